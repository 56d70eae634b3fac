#include "core/getopt_reset.h"

#include <getopt.h>

namespace core {

void getopt_reset() {
    optind = 1;
    opterr = 1;
    optopt = '?';
}

// glibc re-initialises its private scanning state (the position inside a cluster and the
// permutation bounds) only when optind is 0; 1 leaves that state as the last parse left it.
int getopt_reset_full(int, char**, const char*) {
    optind = 0;
    opterr = 1;
    optopt = '?';
    return 1;
}

}  // namespace core
