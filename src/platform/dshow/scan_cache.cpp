#include "platform/dshow/scan_cache.h"

namespace platform::dshow {
namespace {

// A scan keeps a key place a second, some 60 kB an hour of recording: this holds the scans of
// hundreds of hours.
constexpr std::size_t kSharedBudget = 16u << 20;

}  // namespace

std::size_t FileScan::Footprint() const {
    return sizeof(FileScan) + repairs.jumps.capacity() * sizeof(StampJump) +
           repairs.outliers.capacity() * sizeof(StampOutlier) +
           keyPlaces.capacity() * sizeof(KeyPlace);
}

FileVersion FileVersion::Of(const struct stat& info) {
    FileVersion version;
    version.device = uint64_t(info.st_dev);
    version.inode = uint64_t(info.st_ino);
    version.size = uint64_t(info.st_size);
    version.modifiedSeconds = int64_t(info.st_mtim.tv_sec);
    version.modifiedNanoseconds = int64_t(info.st_mtim.tv_nsec);
    return version;
}

ScanCache::ScanCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

ScanCache& ScanCache::Shared() {
    static ScanCache cache(kSharedBudget);
    return cache;
}

std::shared_ptr<const FileScan> ScanCache::Find(const std::string& path,
                                                const FileVersion& version) {
    std::lock_guard lock(mutex_);
    return FindLocked(path, version);
}

std::shared_ptr<const FileScan> ScanCache::FindOrClaim(const std::string& path,
                                                       const FileVersion& version, Claim* claim) {
    claim->Release();  // one held before ends first: ending it takes the lock
    std::unique_lock lock(mutex_);
    while (true) {
        if (std::shared_ptr<const FileScan> kept = FindLocked(path, version)) return kept;
        const auto scanning = scanning_.find(path);
        if (scanning == scanning_.end()) break;
        // A scan of another version tells nothing about this one.
        if (!(scanning->second == version)) return nullptr;
        scanEnded_.wait(lock);
    }
    scanning_[path] = version;
    claim->cache_ = this;
    claim->path_ = path;
    return nullptr;
}

void ScanCache::EndClaim(const std::string& path) {
    std::lock_guard lock(mutex_);
    scanning_.erase(path);
    scanEnded_.notify_all();
}

void ScanCache::Claim::Release() {
    if (cache_ == nullptr) return;
    cache_->EndClaim(path_);
    cache_ = nullptr;
}

std::shared_ptr<const FileScan> ScanCache::FindLocked(const std::string& path,
                                                      const FileVersion& version) {
    const auto found = byPath_.find(path);
    if (found == byPath_.end()) return nullptr;
    const Entries::iterator entry = found->second;
    if (!(entry->version == version)) {
        Drop(entry);
        return nullptr;
    }
    entries_.splice(entries_.begin(), entries_, entry);
    return entry->scan;
}

void ScanCache::Keep(const std::string& path, const FileVersion& version,
                     std::shared_ptr<const FileScan> scan) {
    if (!scan) return;
    const std::size_t footprint = scan->Footprint() + path.size();
    std::lock_guard lock(mutex_);
    if (const auto found = byPath_.find(path); found != byPath_.end()) Drop(found->second);
    if (footprint > budget_) return;
    while (used_ + footprint > budget_) Drop(std::prev(entries_.end()));
    entries_.push_front(Entry{path, version, std::move(scan), footprint});
    byPath_[path] = entries_.begin();
    used_ += footprint;
}

void ScanCache::Drop(Entries::iterator entry) {
    used_ -= entry->footprint;
    byPath_.erase(entry->path);
    entries_.erase(entry);
}

}  // namespace platform::dshow
