// Opening the engine's inputs: a file, a command's output ("cmd|"), standard input ("-") or an
// inherited descriptor ("&N").
#pragma once

#include <cstdio>
#include <string>

namespace author {

enum InputKind { kInputFile = 0, kInputPipe = 1, kInputStdin = 2 };

// An open input; closes what it opened (never standard input) when it goes out of scope, so a
// run that unwinds on an error leaves no descriptor or child process behind.
class InputStream {
public:
    InputStream() = default;
    InputStream(std::FILE* file, InputKind kind, std::string name)
        : file_(file), kind_(kind), name_(std::move(name)) {}
    InputStream(InputStream&& other) noexcept;
    InputStream& operator=(InputStream&& other) noexcept;
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;
    ~InputStream() { close(); }

    std::FILE* file() const { return file_; }
    InputKind kind() const { return kind_; }
    // The name as given, without a command's trailing '|' and the blanks before it.
    const std::string& name() const { return name_; }

    // Closes the input: 0 on success; for a command, nonzero when it did not exit with 0.
    int close();

private:
    std::FILE* file_ = nullptr;
    InputKind kind_ = kInputFile;
    std::string name_;
};

// Opens the input named on the command line; failure is a fatal error naming the input and the
// system's reason. Opening a plain file restarts the scan's progress position and counter.
InputStream open_input(const char* name);

}  // namespace author
