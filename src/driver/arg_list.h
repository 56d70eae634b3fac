// An argument vector for engines that are entered like programs, with the program name first.
#pragma once

#include <string>
#include <vector>

namespace driver {

class ArgList {
public:
    explicit ArgList(std::string programName);

    void Add(std::string argument);
    // Drops every argument after the program name.
    void Clear();
    int Count() const { return int(arguments_.size()); }
    // argv for the engine: Count() pointers and a terminating null. The engine may reorder the
    // pointers (option parsing does); the strings stay ours. Valid until the next Add or Clear.
    char** Argv();
    const std::vector<std::string>& Arguments() const { return arguments_; }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
};

}  // namespace driver
