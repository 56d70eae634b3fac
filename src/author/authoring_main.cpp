#include "author/authoring_main.h"

#include <exception>

#include "author/diagnostics.h"
#include "author/generation.h"
#include "author/model.h"
#include "author/options.h"
#include "author/run_output.h"
#include "core/getopt_reset.h"

namespace author {

namespace {

int run(int argc, char** argv) {
    RunRequest request;
    if (parse_command_line(argc, argv, &request) != kParseBuild) return 1;
    if (request.table_of_contents)
        build_vmgm(request.first_play, request.menus, request.output_directory);
    else
        build_titleset(request.menus, request.titles, request.output_directory);
    return 0;
}

int run_guarded(int argc, char** argv, platform::ProgressTarget* progress,
                const platform::ManualResetEvent* cancel) {
    core::getopt_reset_full(argc, argv, kShortOptions);
    engine_reset(progress, cancel);
    emit("discforge\n");
    if (argc < 1) {
        emit("ERR:  No arguments!\n");
        return 1;
    }
    try {
        return run(argc, argv);
    } catch (const FatalError&) {
    } catch (const std::exception& error) {
        // Exhausted memory or a failed library call: the run fails, the application goes on.
        emit("ERR:  %s\n", error.what());
    }
    remove_run_output();
    return 1;
}

}  // namespace

int authoring_main(int argc, char** argv, platform::ProgressTarget* progress,
                   const platform::ManualResetEvent* cancel, RunReport* report) {
    RunReport local;
    RunReport& told = report != nullptr ? *report : local;
    told = RunReport{};
    const ErrorLineCapture capture(&told.errors);
    const int result = run_guarded(argc, argv, progress, cancel);
    told.cancelled = engine().cancelled;
    told.written_files = present_output_files();
    told.created_directories = engine().output.directories;
    return result;
}

}  // namespace author
