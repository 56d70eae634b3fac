#include "author/input_open.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "author/diagnostics.h"
#include "author/model.h"

namespace author {

InputStream::InputStream(InputStream&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), kind_(other.kind_), name_(std::move(other.name_)) {}

InputStream& InputStream::operator=(InputStream&& other) noexcept {
    if (this != &other) {
        close();
        file_ = std::exchange(other.file_, nullptr);
        kind_ = other.kind_;
        name_ = std::move(other.name_);
    }
    return *this;
}

int InputStream::close() {
    std::FILE* file = std::exchange(file_, nullptr);
    if (file == nullptr) return 0;
    switch (kind_) {
        case kInputPipe:
            return pclose(file);
        case kInputStdin:
            return 0;
        case kInputFile:
            return std::fclose(file);
    }
    return 0;
}

InputStream open_input(const char* name) {
    const size_t length = std::strlen(name);
    std::FILE* file = nullptr;
    InputKind kind = kInputFile;
    std::string shown = name;
    if (length > 0 && name[length - 1] == '|') {
        const std::string command(name, length - 1);
        kind = kInputPipe;
        // popen hands the text to the shell as it stands, so the command runs exactly as
        // written; escaping its quotes a second time would change what it does.
        std::fflush(nullptr);
        file = popen(command.c_str(), "r");
        // "cmd |" is the usual way to write it; the blank before the bar is no part of the name.
        shown = command.substr(0, command.find_last_not_of(" \t") + 1);
    } else if (std::strcmp(name, "-") == 0) {
        kind = kInputStdin;
        file = stdin;
    } else if (name[0] == '&' && std::isdigit(static_cast<unsigned char>(name[1]))) {
        file = fdopen(std::atoi(name + 1), "rb");
    } else {
        engine().scan.read_position = 0;
        engine().scan.sector_counter = 0;
        file = std::fopen(name, "rb");
    }
    if (file == nullptr) fatal("ERR:  Error opening %s: %s\n", shown.c_str(), std::strerror(errno));
    return InputStream(file, kind, shown);
}

}  // namespace author
