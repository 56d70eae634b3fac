// Path and folder helpers shared by the job and the user interface, and printf-style strings.
// Paths are absolute UTF-8 POSIX paths.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

namespace core {

// The position in path just after its root "/", or null for a relative path (or null/empty).
const char* SkipPathRoot(const char* path);

// name inside folder, with one '/' between them.
std::string PathInFolder(const std::string& folder, const std::string& name);

// 1 when path names a directory (a link to one counts), else 0. The name is taken literally:
// no wildcards.
int IsDirectory(const char* path);

// Creates every missing folder of an absolute path. 1 on success; 0 when a relative or empty
// path is given, a component exists but is not a folder, or a folder cannot be made (errno
// then tells why, for ShowLastErrorBox).
int CreateDirectoryTree(const char* path);

// 1 when the tree under dir holds nothing but folders, else 0 (also when dir cannot be
// listed). Names starting with "." are not looked at. A symbolic link counts as a file.
int DirectoryTreeHasNoFiles(const char* dir);

// An entry that stayed when a folder was emptied, with the errno that kept it.
struct DeleteFailure {
    std::string Path;
    int Error = 0;
};

// Empties dir: deletes its files, removes its subfolders that hold no file and empties the
// others, which stay. dir itself stays. Names starting with "." are left alone. A symbolic
// link is removed as an entry and never followed, so nothing outside dir is touched; a dir
// that is itself a link is left as it is. Every deletion is tried; 1 when no file stays (also
// when dir does not exist), else 0 with the first entry that stayed in `failure` (when given):
// a file that could not be deleted, or a folder that could not be listed.
int DeleteDirectoryTree(const char* dir, DeleteFailure* failure = nullptr);

// Shows the text of the current errno in a message box with that caption and style.
void ShowLastErrorBox(const std::string& caption, unsigned style);

std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args);
std::string IntToString(int value);
// More lines than this would make a message box taller than the screen.
constexpr std::size_t kMessageListLines = 12;
// The lines joined by line breaks for a message box: the first `shown` of them, then one line
// that counts the rest.
std::string ListForMessage(const std::vector<std::string>& lines,
                           std::size_t shown = kMessageListLines);

// The default output folder: the user's documents folder (XDG_DOCUMENTS_DIR, else the
// user-dirs file's entry, else ~/Documents), created if missing, followed by "/Lumivane";
// "/tmp" when there is no documents folder and none can be made.
std::string DefaultOutputFolder();

}  // namespace core
