// The reader that decodes one clip for the job, whichever road the settings chose: a plain
// source graph, which leaves pacing, scaling and the range's end to the sink, or the
// editing-services timeline, which cuts the range and delivers pictures already at the output
// size and rate. The job drives both the same way: Build, open its outputs, Run, Release.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "reader/clip_record.h"
#include "reader/des_graph.h"
#include "reader/source_delivery.h"
#include "reader/source_graph.h"

namespace driver {

class ClipGraph {
public:
    virtual ~ClipGraph() = default;
    // Builds the graph for clip (which must outlive the graph); the sink has its formats when
    // this returns. Negative: the clip cannot be read this way.
    virtual platform::com::HRESULT Build(reader::ClipRecord* clip) = 0;
    // Returns when the clip is done or the owner's stop event is set. Negative when a filter
    // ended the clip in an error: HresultFromErrno of the system's error when the file could
    // not be read on.
    virtual platform::com::HRESULT Run() = 0;
    // What the clip's file gave during Run, when the reader fills in what it lacked (the
    // timeline); none when the sink sees the file's own pictures and sound and counts them.
    virtual std::optional<reader::SourceDelivery> SourceDelivered() const = 0;
    virtual void Release() = 0;
};

// "Reading CLIP failed: Input/output error" for a Run that ended in a system error; "" for any
// other end (a damaged file that merely ends early is the clip warnings' business).
std::string ReadFailureText(const std::string& path, platform::com::HRESULT runResult);

// The timeline when useTimeline is set, else the plain graph; both report to owner.
std::unique_ptr<ClipGraph> MakeClipGraph(bool useTimeline, reader::DesGraphOwner* owner);

}  // namespace driver
