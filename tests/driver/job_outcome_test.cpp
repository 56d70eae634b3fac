#include "driver/job_outcome.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace driver {
namespace {

// The status and the result come from one outcome, so they cannot disagree; what each says.
TEST(JobOutcome, StatusSaysHowTheJobEndedAndWhatStays) {
    const std::vector<std::string> vobs = {"/out/Lumivane00.vob", "/out/Lumivane01.vob",
                                           "/out/Lumivane02.vob"};
    const struct {
        JobOutcome outcome;
        JobResult result;
        const char* status;
    } cases[] = {
        {{false, 3, 3, false, {}}, JobResult::Finished, "Job finished. Output folder: /out"},
        // Kept intermediates of a finished job (the setting, or files that could not be
        // deleted) are named too: they take room and make the next Start ask.
        {{false, 1, 1, false, {vobs[0], "/out/Chapter00.m2v", "/out/Chapter00.mp2"}},
         JobResult::Finished,
         "Job finished. Kept: Lumivane00.vob, Chapter00.m2v, Chapter00.mp2. Output folder: /out"},
        {{false, 3, 3, false, {}, true}, JobResult::Finished,
         "Job finished, but some clips could not be read in full. Output folder: /out"},
        {{false, 3, 3, false, vobs, true}, JobResult::Finished,
         "Job finished, but some clips could not be read in full. Kept: Lumivane00.vob to "
         "Lumivane02.vob. Output folder: /out"},
        {{false, 3, 0, false, {}}, JobResult::Stopped, "Job stopped; no disc was made. Output folder: /out"},
        {{false, 3, 1, false, {}}, JobResult::Stopped,
         "Job stopped: the disc holds the first of 3 clips. Output folder: /out"},
        {{false, 3, 2, true, {}}, JobResult::Stopped,
         "Job stopped: the disc holds the first 2 of 3 clips, the last one only up to where it "
         "was stopped. Output folder: /out"},
        {{false, 1, 1, true, {}}, JobResult::Stopped,
         "Job stopped: the disc holds the clip only up to where it was stopped. Output folder: /out"},
        {{false, 3, 3, true, {}}, JobResult::Stopped,
         "Job stopped: the disc holds all 3 clips, the last one only up to where it was stopped. "
         "Output folder: /out"},
        {{false, 3, 0, false, vobs}, JobResult::Stopped,
         "Job stopped; no disc was made. Kept: Lumivane00.vob to Lumivane02.vob. Output folder: /out"},
        {{true, 3, 0, false, {}}, JobResult::Failed, "Job failed; no disc was made. Output folder: /out"},
        {{true, 3, 0, false, {vobs[0], vobs[1], "/out/Chapter00.m2v", "/out/Chapter01.m2v",
                              "/out/Chapter00.ac3"}},
         JobResult::Failed,
         "Job failed; no disc was made. Kept: Lumivane00.vob and Lumivane01.vob, Chapter00.m2v "
         "and Chapter01.m2v, Chapter00.ac3. Output folder: /out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(c.outcome.Result(), c.result);
        EXPECT_EQ(JobEndStatus(c.outcome, "/out"), c.status);
    }
}

}  // namespace
}  // namespace driver
