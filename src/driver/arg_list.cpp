#include "driver/arg_list.h"

#include <utility>

namespace driver {

ArgList::ArgList(std::string programName) { arguments_.push_back(std::move(programName)); }

void ArgList::Add(std::string argument) { arguments_.push_back(std::move(argument)); }

void ArgList::Clear() { arguments_.resize(1); }

char** ArgList::Argv() {
    argv_.clear();
    for (std::string& argument : arguments_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    return argv_.data();
}

}  // namespace driver
