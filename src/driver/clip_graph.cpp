#include "driver/clip_graph.h"

namespace driver {
namespace {

using platform::com::HRESULT;

class PlainClipGraph : public ClipGraph {
public:
    explicit PlainClipGraph(reader::GraphOwner* owner) { graph_.Init(owner); }
    HRESULT Build(reader::ClipRecord* clip) override { return graph_.Build(clip); }
    // The plain graph also ends on the owner's cancel event.
    void Run() override { graph_.RenderGraph(); }
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
    void Run() override { graph_.Run(); }
    std::optional<reader::SourceDelivery> SourceDelivered() const override {
        return graph_.SourceDelivered();
    }
    void Release() override { graph_.Release(); }

private:
    reader::DesGraph graph_;
};

}  // namespace

std::unique_ptr<ClipGraph> MakeClipGraph(bool useTimeline, reader::DesGraphOwner* owner) {
    if (useTimeline) return std::make_unique<TimelineClipGraph>(owner);
    return std::make_unique<PlainClipGraph>(owner);
}

}  // namespace driver
