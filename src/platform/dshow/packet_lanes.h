// The demultiplexer's packet queues towards the two decoders of the source filter.
#pragma once

#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

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
};

// The demultiplexer's two outgoing queues. A full lane holds the demultiplexer back only while
// the other lane has packets to work on: when one decoder starves, reading goes on (up to a
// hard memory limit), so a file whose streams are far apart on disk cannot stall both.
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

    bool HasRoom(int lane) const {
        if (bytes_ >= kMemoryLimit) return false;
        if (items_[lane].size() < kLaneCapacity) return true;
        const int other = 1 - lane;
        return open_[other] && items_[other].empty();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<std::deque<PacketItem>, kLanes> items_;
    std::array<bool, kLanes> open_;
    size_t bytes_ = 0;
    bool aborted_ = false;
};

}  // namespace platform::dshow
