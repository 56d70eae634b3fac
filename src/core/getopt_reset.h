// Resets of glibc's getopt_long, for option parsers that run many times in one process.
#pragma once

namespace core {

// optind = 1, opterr = 1, optopt = '?'.
void getopt_reset();
// Full reset: the next getopt_long call parses a new argument vector from its start, with
// none of the hidden state a previous parse left (such as the rest of a cluster like "-mT").
int getopt_reset_full(int argc, char** argv, const char* optstring);

}  // namespace core
