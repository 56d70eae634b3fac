// Creating the job's output files without ever writing through a name that is not the job's.
#pragma once

#include <cstdio>
#include <string>

namespace core {

// Creates `path` as a new, empty file open for writing (close-on-exec) and answers its
// descriptor, or -1 with errno set. A regular file of that name is removed first, so a hard
// link to it keeps its bytes. Nothing is ever written through a link: a link under the name
// is refused (ELOOP), and so is a folder (EISDIR) or any other kind of entry (EEXIST), which
// all stay. A name that reappears between the removal and the creation is refused (EEXIST),
// not overwritten.
int CreateNewFile(const std::string& path);
// The same, as a stream for writing; null with errno set.
std::FILE* CreateNewStream(const std::string& path);

// "<what> <path>: <the system's text for errno>", for the reason of a failed file call.
std::string FileFailure(const std::string& what, const std::string& path);

}  // namespace core
