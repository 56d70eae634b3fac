// The demultiplexer's packet queues towards the two decoders of the source filter.
#pragma once

#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

extern "C" {
#include <libavcodec/packet.h>
}

namespace platform::dshow {

enum Lane { kVideo = 0, kAudio = 1, kLanes = 2 };

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// What travels down a lane: data, or the news that the stream ended or broke.
enum class Kind { Data, EndOfStream, Error };

struct PacketItem {
    Kind kind = Kind::Data;
    PacketPtr packet;
    std::optional<double> seconds;  // the packet's time, when it has one
};

// The demultiplexer's two outgoing queues. A full lane holds the demultiplexer back only while
// the other lane has packets to work on: when one decoder starves, reading goes on, so a file
// whose streams are far apart on disk cannot stall both. It goes on only a few seconds ahead
// of what the full lane's decoder has taken, though (and never past a hard memory limit): a
// decoder that starves because it is fast (sound, beside slowly encoded pictures) would
// otherwise have the whole rest of the file read in while the consumer stops at the end of
// the range it wants.
class PacketLanes {
public:
    PacketLanes() { open_ = {false, false}; }

    void OpenLane(int lane) { open_[lane] = true; }

    // False once aborted; a packet for a closed lane is dropped.
    bool Push(int lane, PacketItem item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return aborted_ || !open_[lane] || HasRoom(lane); });
        if (aborted_) return false;
        if (!open_[lane]) return true;
        bytes_ += item.packet ? item.packet->size : 0;
        if (item.seconds) {
            newest_[lane] = *item.seconds;
            if (!taken_[lane]) taken_[lane] = *item.seconds;
        }
        items_[lane].push_back(std::move(item));
        changed_.notify_all();
        return true;
    }

    bool Pop(int lane, PacketItem* item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return aborted_ || !items_[lane].empty(); });
        if (aborted_) return false;
        *item = std::move(items_[lane].front());
        items_[lane].pop_front();
        bytes_ -= item->packet ? item->packet->size : 0;
        if (item->seconds) taken_[lane] = *item->seconds;
        changed_.notify_all();
        return true;
    }

    // The lane's consumer needs nothing more.
    void CloseLane(int lane) {
        std::lock_guard lock(mutex_);
        open_[lane] = false;
        for (const PacketItem& item : items_[lane]) bytes_ -= item.packet ? item.packet->size : 0;
        items_[lane].clear();
        changed_.notify_all();
    }

    bool AnyOpen() {
        std::lock_guard lock(mutex_);
        return open_[kVideo] || open_[kAudio];
    }

    void Abort() {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        changed_.notify_all();
    }

private:
    static constexpr size_t kLaneCapacity = 64;
    static constexpr size_t kMemoryLimit = size_t(256) << 20;
    // Enough for any interleaving a muxer writes, little against a recording's length.
    static constexpr double kMostSecondsAhead = 3.0;

    bool HasRoom(int lane) const {
        if (bytes_ >= kMemoryLimit) return false;
        if (items_[lane].size() < kLaneCapacity) return true;
        const int other = 1 - lane;
        return open_[other] && items_[other].empty() && SecondsAhead(lane) < kMostSecondsAhead;
    }

    // How far the lane's newest packet lies after the last one its decoder took. Stamps that
    // run backwards (a clock that starts again) count as none ahead.
    double SecondsAhead(int lane) const {
        if (!newest_[lane] || !taken_[lane]) return 0.0;
        return *newest_[lane] - *taken_[lane];
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<std::deque<PacketItem>, kLanes> items_;
    std::array<bool, kLanes> open_;
    std::array<std::optional<double>, kLanes> newest_;  // of the packets pushed
    std::array<std::optional<double>, kLanes> taken_;   // of the packets popped (or the first)
    size_t bytes_ = 0;
    bool aborted_ = false;
};

}  // namespace platform::dshow
