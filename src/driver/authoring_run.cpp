#include "driver/authoring_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "author/authoring_main.h"
#include "core/log.h"
#include "driver/arg_list.h"

namespace driver {

namespace {

// `what` names the run ("the titleset") for a failure the engine gave no reason for.
int RunEngine(ArgList& args, const char* what, platform::ProgressTarget* progress,
              const platform::ManualResetEvent* stop, AuthoringResult& result) {
    author::RunReport report;
    const int status = author::authoring_main(args.Count(), args.Argv(), progress, stop, &report);
    if (status != 0 && report.errors.empty() && !report.cancelled) {
        // The box must never read "failed:" and nothing more.
        report.errors.push_back(std::string("Authoring ") + what + " failed; " +
                                kAuthoringProgramName + " gave no reason.");
    }
    for (const std::string& line : report.errors) {
        core::LogPrintf("%s: %s\n", kAuthoringProgramName, line.c_str());
    }
    result.errors.insert(result.errors.end(), report.errors.begin(), report.errors.end());
    result.stopped = result.stopped || report.cancelled;
    result.writtenFiles.insert(result.writtenFiles.end(), report.written_files.begin(),
                               report.written_files.end());
    result.createdFolders.insert(result.createdFolders.end(), report.created_directories.begin(),
                                 report.created_directories.end());
    return status;
}

}  // namespace

AuthoringResult RunAuthoring(const std::string& dvdFolder, const std::vector<std::string>& vobPaths,
                             platform::ProgressTarget* progress,
                             const platform::ManualResetEvent* stop) {
    AuthoringResult result;
    if (::mkdir(dvdFolder.c_str(), 0777) == 0) {
        result.createdFolders.push_back(dvdFolder);
    } else if (errno != EEXIST) {
        result.errors.push_back("Cannot create directory " + dvdFolder + ": " +
                                std::strerror(errno));
        core::LogPrintf("%s\n", result.errors.back().c_str());
        return result;
    }
    ArgList args(kAuthoringProgramName);
    args.Add("-o");
    args.Add(dvdFolder);
    for (const std::string& vob : vobPaths) {
        args.Add("-f");
        args.Add(vob);
    }
    if (RunEngine(args, "the titleset", progress, stop, result) != 0) {
        // A table of contents without its titleset would only fail as well, and its error
        // would hide the one that tells why.
        core::LogPrintf("Authoring the titleset failed\n");
        return result;
    }
    // Not reset in between: a stop during the titleset also ends the table of contents.
    args.Clear();
    args.Add("-T");
    args.Add("-o");
    args.Add(dvdFolder);
    if (RunEngine(args, "the table of contents", progress, stop, result) != 0) {
        core::LogPrintf("Authoring the table of contents failed\n");
        return result;
    }
    result.authored = true;
    return result;
}

}  // namespace driver
