// Path and folder helpers shared by the job and the user interface, and printf-style strings.
// Paths are absolute UTF-8 POSIX paths.
#pragma once

#include <cstdarg>
#include <string>

namespace core {

// The position in path just after its root "/", or null for a relative path (or null/empty).
const char* SkipPathRoot(const char* path);

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

// Empties dir: deletes its files, removes its subfolders that hold no file and empties the
// others, which stay. dir itself stays. Names starting with "." are left alone. A symbolic
// link is removed as an entry and never followed, so nothing outside dir is touched; a dir
// that is itself a link is left as it is. Failed deletions are ignored. Always 1.
int DeleteDirectoryTree(const char* dir);

// Shows the text of the current errno in a message box with that caption and style.
void ShowLastErrorBox(const std::string& caption, unsigned style);

std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args);
std::string IntToString(int value);

// The default output folder: the user's documents folder (XDG_DOCUMENTS_DIR, else the
// user-dirs file's entry, else ~/Documents), created if missing, followed by "/Lumivane";
// "/tmp" when there is no documents folder and none can be made.
std::string DefaultOutputFolder();

}  // namespace core
