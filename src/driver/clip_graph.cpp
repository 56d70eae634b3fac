#include "driver/clip_graph.h"

#include <cstring>

namespace driver {
namespace {

using platform::com::HRESULT;

class PlainClipGraph : public ClipGraph {
public:
    explicit PlainClipGraph(reader::GraphOwner* owner) { graph_.Init(owner); }
    HRESULT Build(reader::ClipRecord* clip) override { return graph_.Build(clip); }
    // The plain graph also ends on the owner's cancel event.
    HRESULT Run() override { return graph_.RenderGraph(); }
    std::optional<reader::SourceDelivery> SourceDelivered() const override { return std::nullopt; }
    void Release() override { graph_.Release(); }

private:
    reader::SourceGraph graph_;
};

class TimelineClipGraph : public ClipGraph {
public:
    explicit TimelineClipGraph(reader::DesGraphOwner* owner) { graph_.Init(owner); }
    HRESULT Build(reader::ClipRecord* clip) override { return graph_.Build(clip); }
    // Ends when the range is rendered or on the stop event, which Stop sets as well.
    HRESULT Run() override {
        graph_.Run();
        return graph_.RunFailure();
    }
    std::optional<reader::SourceDelivery> SourceDelivered() const override {
        return graph_.SourceDelivered();
    }
    void Release() override { graph_.Release(); }

private:
    reader::DesGraph graph_;
};

}  // namespace

std::string ReadFailureText(const std::string& path, HRESULT runResult) {
    const int error = platform::com::ErrnoFromHresult(runResult);
    if (error == 0) return {};
    return "Reading " + path + " failed: " + std::strerror(error);
}

std::unique_ptr<ClipGraph> MakeClipGraph(bool useTimeline, reader::DesGraphOwner* owner) {
    if (useTimeline) return std::make_unique<TimelineClipGraph>(owner);
    return std::make_unique<PlainClipGraph>(owner);
}

}  // namespace driver
