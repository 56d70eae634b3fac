// What a name in the file system stands for, told apart without following a link, so that the
// job never treats a link or a file as the folder or the file it means to make.
#pragma once

#include <string>

namespace driver {

// LinkLoop: a link that leads, through links, back to itself, so it never reaches anything.
enum class PathKind {
    Missing,
    Folder,
    File,
    LinkToFolder,
    LinkToFile,
    DanglingLink,
    LinkLoop,
    Other
};

PathKind KindOf(const std::string& path);
bool IsLink(PathKind kind);
// "a file", "a link to a folder", ... for a message that names what stands in the way.
std::string DescribeKind(PathKind kind);

}  // namespace driver
