#include "driver/job_outcome.h"

#include <filesystem>

namespace driver {

namespace {

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string Extension(const std::string& path) {
    return std::filesystem::path(path).extension().string();
}

// Names a run of files of one kind, which the job numbers in order: "a", "a and b", "a to z".
std::string DescribeRun(const std::vector<std::string>& run) {
    if (run.size() == 1) return FileName(run.front());
    return FileName(run.front()) + (run.size() == 2 ? " and " : " to ") + FileName(run.back());
}

std::string DescribeKept(const std::vector<std::string>& kept) {
    std::string text;
    std::vector<std::string> run;
    auto closeRun = [&] {
        if (run.empty()) return;
        text += (text.empty() ? "" : ", ") + DescribeRun(run);
        run.clear();
    };
    for (const std::string& path : kept) {
        if (!run.empty() && Extension(path) != Extension(run.back())) closeRun();
        run.push_back(path);
    }
    closeRun();
    return text;
}

std::string DescribeDisc(const JobOutcome& outcome) {
    const std::size_t held = outcome.clipsOnDisc;
    const std::string count = std::to_string(outcome.clipCount);
    std::string text = "the disc holds ";
    if (held == outcome.clipCount) {
        text += held == 1 ? "the clip" : "all " + count + " clips";
    } else {
        text += held == 1 ? "the first of " + count + " clips"
                          : "the first " + std::to_string(held) + " of " + count + " clips";
    }
    if (outcome.lastClipCut) {
        text += held == 1 ? " only up to where it was stopped"
                          : ", the last one only up to where it was stopped";
    }
    return text;
}

}  // namespace

JobResult JobOutcome::Result() const {
    if (failed) return JobResult::Failed;
    const bool complete = clipsOnDisc > 0 && clipsOnDisc == clipCount && !lastClipCut;
    return complete ? JobResult::Finished : JobResult::Stopped;
}

std::string JobEndStatus(const JobOutcome& outcome, const std::string& outputFolder) {
    const JobResult result = outcome.Result();
    std::string text;
    if (result == JobResult::Finished) {
        text = outcome.clipsReadShort ? "Job finished, but some clips could not be read in full."
                                      : "Job finished.";
    } else {
        text = result == JobResult::Failed ? "Job failed" : "Job stopped";
        text += outcome.clipsOnDisc == 0 ? "; no disc was made." : ": " + DescribeDisc(outcome) + ".";
    }
    // Also after a finish: kept files take room and make the next Start ask before it
    // overwrites them.
    if (!outcome.kept.empty()) text += " Kept: " + DescribeKept(outcome.kept) + ".";
    return text + " Output folder: " + outputFolder;
}

}  // namespace driver
