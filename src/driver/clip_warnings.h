// What the clips of a job lacked although they became chapters: pictures that stopped well
// before the end of the clip's range (a file cut short, or one that was cut while it was read),
// or sound that the file holds but that could not be decoded. The job notes them per clip and
// names them at its end, so that such a job never reads as a clean finish.
#pragma once

#include <string>
#include <vector>

#include "reader/clip_record.h"
#include "reader/source_delivery.h"

namespace driver {

struct ClipWarning {
    std::string Path;
    std::string Problem;  // a sentence
};

class ClipWarnings {
public:
    // Pictures may end this much before the range does without a warning: the last picture's
    // length and the rounding of a probed length stay well below it.
    static constexpr double kShortfallSeconds = 1.0;

    // Notes what clip, read to the end of its range (not stopped), came short of.
    void Review(const reader::ClipRecord& clip, const reader::SourceDelivery& delivered);
    void Clear() { warnings_.clear(); }
    bool Empty() const { return warnings_.empty(); }
    const std::vector<ClipWarning>& Items() const { return warnings_; }

    // The text of the box that names every clip noted; empty when there is none.
    std::string Message() const;

private:
    std::vector<ClipWarning> warnings_;
};

}  // namespace driver
