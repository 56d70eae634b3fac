#include "driver/path_kind.h"

#include <sys/stat.h>

#include <cerrno>

namespace driver {

namespace {

PathKind LinkKind(const std::string& path) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
        return errno == ELOOP ? PathKind::LinkLoop : PathKind::DanglingLink;
    }
    return S_ISDIR(target.st_mode) ? PathKind::LinkToFolder : PathKind::LinkToFile;
}

}  // namespace

PathKind KindOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return PathKind::Missing;
    if (S_ISLNK(info.st_mode)) return LinkKind(path);
    if (S_ISDIR(info.st_mode)) return PathKind::Folder;
    return S_ISREG(info.st_mode) ? PathKind::File : PathKind::Other;
}

bool IsLink(PathKind kind) {
    return kind == PathKind::LinkToFolder || kind == PathKind::LinkToFile ||
           kind == PathKind::DanglingLink || kind == PathKind::LinkLoop;
}

std::string DescribeKind(PathKind kind) {
    switch (kind) {
        case PathKind::Missing: return "missing";
        case PathKind::Folder: return "a folder";
        case PathKind::File: return "a file";
        case PathKind::LinkToFolder: return "a link to a folder";
        case PathKind::LinkToFile: return "a link to a file";
        case PathKind::DanglingLink: return "a link to nothing";
        case PathKind::LinkLoop: return "a loop of links";
        case PathKind::Other: return "a special file";
    }
    return "unknown";
}

}  // namespace driver
