// Command-line entry of the program-stream multiplexer:
//   psmux [options] -o OUTPUT INPUT...
// Exits 0 when the output was written, 1 with a one-line reason otherwise.
#include <cstdio>
#include <string>

#include "psmux/multiplexer.h"
#include "psmux/mux_job.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "psmux: usage: psmux [-f format] [-r kbit] [-b kb,...] [-L rate:ch:bits,...] "
                             "[-O ms] [-T ms] [-s size] [-S mb] [-p n] [-l s] [-v n] [-V] [-M] [-h] -o output input...\n");
        return 1;
    }
    psmux::MuxJob job;
    std::string error;
    if (!job.ParseCommandLine(argc, argv, error)) {
        std::fprintf(stderr, "psmux: %s\n", error.c_str());
        return 1;
    }
    psmux::MuxStatus status = psmux::RunMuxJob(job);
    for (const std::string& warning : job.warnings) std::fprintf(stderr, "psmux: warning: %s\n", warning.c_str());
    if (status != psmux::MuxStatus::Ok) {
        std::fprintf(stderr, "psmux: %s\n", job.FailureText(status).c_str());
        return 1;
    }
    return 0;
}
