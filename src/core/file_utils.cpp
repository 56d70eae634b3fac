#include "core/file_utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/message_box.h"
#include "platform/settings_store.h"

namespace core {

namespace {

constexpr const char* kDocumentsKey = "XDG_DOCUMENTS_DIR";
constexpr const char* kFallbackOutputFolder = "/tmp";

bool IsHiddenName(const char* name) { return name[0] == '.'; }

// Opens a subfolder of parent for listing without following a link in its place.
int OpenSubfolder(int parentFd, const char* name) {
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Calls visit(parentFd, name, isRealFolder) for every entry not starting with "."; stops and
// returns false as soon as visit does. Takes ownership of fd.
template <typename Visit>
bool ForEachEntry(int fd, Visit visit) {
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return false;
    }
    bool completed = true;
    while (const dirent* entry = ::readdir(listing)) {
        if (IsHiddenName(entry->d_name)) continue;
        struct stat info {};
        const bool isFolder = ::fstatat(::dirfd(listing), entry->d_name, &info,
                                        AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISDIR(info.st_mode);
        if (!visit(::dirfd(listing), entry->d_name, isFolder)) {
            completed = false;
            break;
        }
    }
    ::closedir(listing);
    return completed;
}

bool TreeHasNoFiles(int fd) {
    if (fd < 0) return false;
    return ForEachEntry(fd, [](int parentFd, const char* name, bool isFolder) {
        return isFolder && TreeHasNoFiles(OpenSubfolder(parentFd, name));
    });
}

// Keeps the first entry that could not be removed.
void NoteFailure(DeleteFailure* failure, const std::string& path, int error) {
    if (failure != nullptr && failure->Path.empty()) *failure = DeleteFailure{path, error};
}

// False when something other than folders stays; `folder` names fd in the failure.
bool EmptyTree(int fd, const std::string& folder, DeleteFailure* failure) {
    if (fd < 0) {
        NoteFailure(failure, folder, errno);
        return false;
    }
    bool emptied = true;
    ForEachEntry(fd, [&](int parentFd, const char* name, bool isFolder) {
        const std::string path = folder + "/" + name;
        if (!isFolder) {
            // A link goes as an entry; its target stays.
            if (::unlinkat(parentFd, name, 0) != 0 && errno != ENOENT) {
                NoteFailure(failure, path, errno);
                emptied = false;
            }
        } else if (TreeHasNoFiles(OpenSubfolder(parentFd, name))) {
            // Fails, harmlessly, when hidden names keep it: a folder may stay.
            ::unlinkat(parentFd, name, AT_REMOVEDIR);
        } else if (!EmptyTree(OpenSubfolder(parentFd, name), path, failure)) {
            emptied = false;
        }
        return true;
    });
    return emptied;
}

int OpenFolderNoFollow(const char* dir) {
    if (!dir || !*dir) return -1;
    return ::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// XDG_DOCUMENTS_DIR from the user-dirs file, written as "$HOME/..." or an absolute path.
std::string DocumentsFromUserDirsFile(const std::string& home) {
    const std::string config = platform::UserConfigDirectory();
    if (config.empty()) return {};
    std::ifstream file(config + "/user-dirs.dirs");
    const std::string prefix = std::string(kDocumentsKey) + "=\"";
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t close = line.find('"', prefix.size());
        if (close == std::string::npos) return {};
        std::string value = line.substr(prefix.size(), close - prefix.size());
        if (value.compare(0, 5, "$HOME") == 0) {
            if (home.empty()) return {};
            value = home + value.substr(5);
        }
        return value.empty() || value[0] != '/' ? std::string() : value;
    }
    return {};
}

std::string DocumentsFolder() {
    std::string documents;
    if (const char* env = std::getenv(kDocumentsKey); env && env[0] == '/') {
        documents = env;
    } else {
        const std::string home = platform::UserHomeDirectory();
        documents = DocumentsFromUserDirsFile(home);
        if (documents.empty() && !home.empty()) documents = home + "/Documents";
    }
    while (documents.size() > 1 && documents.back() == '/') documents.pop_back();
    return documents;
}

}  // namespace

const char* SkipPathRoot(const char* path) {
    if (!path || path[0] != '/') return nullptr;
    return path + 1;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

int IsDirectory(const char* path) {
    if (!path || !*path) return 0;
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

int CreateDirectoryTree(const char* path) {
    const char* rest = SkipPathRoot(path);
    if (!rest) {
        errno = EINVAL;
        return 0;
    }
    std::string partial(path, static_cast<size_t>(rest - path));
    while (*rest) {
        const char* end = std::strchr(rest, '/');
        if (!end) end = rest + std::strlen(rest);
        partial.append(rest, static_cast<size_t>(end - rest));
        rest = *end ? end + 1 : end;
        if (partial.back() == '/') continue;  // an empty component, as in "a//b"
        if (::mkdir(partial.c_str(), 0777) != 0) {
            if (errno != EEXIST) return 0;
            if (!IsDirectory(partial.c_str())) {
                errno = ENOTDIR;
                return 0;
            }
        }
        partial += '/';
    }
    return 1;
}

int DirectoryTreeHasNoFiles(const char* dir) {
    return TreeHasNoFiles(OpenFolderNoFollow(dir)) ? 1 : 0;
}

int DeleteDirectoryTree(const char* dir, DeleteFailure* failure) {
    const int fd = OpenFolderNoFollow(dir);
    if (fd < 0 && errno == ENOENT) return 1;  // nothing to empty
    return EmptyTree(fd, dir != nullptr ? dir : "", failure) ? 1 : 0;
}

void ShowLastErrorBox(const std::string& caption, unsigned style) {
    const int error = errno;
    char buffer[256];
    platform::ShowMessageBox(::strerror_r(error, buffer, sizeof buffer), caption, style);
}

std::string FormatStringV(const char* format, va_list args) {
    if (!format) return {};
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

std::string IntToString(int value) { return std::to_string(value); }

std::string ListForMessage(const std::vector<std::string>& lines, std::size_t shown) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < shown; ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    if (lines.size() > shown) text += FormatString("\n... and %zu more", lines.size() - shown);
    return text;
}

std::string DefaultOutputFolder() {
    const std::string documents = DocumentsFolder();
    if (documents.empty() || !CreateDirectoryTree(documents.c_str())) return kFallbackOutputFolder;
    return documents + "/Lumivane";
}

}  // namespace core
