// What reading a media file through finds, kept for the whole process while the file stays as
// it was. A long recording is read whole to find its length, its clock jumps and where its key
// pictures lie; Add, Start, the job and the preview all open it, and only the first of them
// reads it. The add-clips thread, the job's worker and the GUI thread share one cache; an
// opening while another one reads the same file waits for that reading rather than making its
// own.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dshow/stamp_mender.h"

namespace platform::dshow {

// A key packet of a file with clock jumps: where reading must start to reach its time.
struct KeyPlace {
    double seconds = 0.0;  // from time zero, on the closed-up clock
    int64_t position = 0;  // byte position of its packet
};

// Everything a scan of a file hands on to those who open it later. A new finding of the scan
// is one more field here (and, when it holds a vector, one more term of Footprint).
struct FileScan {
    // The streams the lengths belong to: a file opened later that chooses others cannot use them.
    int videoStream = -1;
    int audioStream = -1;
    double videoLength = 0.0;  // seconds, as MediaFile::VideoLength gives them
    double audioLength = 0.0;
    StampRepairs repairs;  // the clock's jumps and the damaged stamps
    std::vector<KeyPlace> keyPlaces;

    // Bytes of memory this scan holds.
    std::size_t Footprint() const;
};

// One version of a file: a file rewritten under its name, or replaced by another, differs in
// at least one of these.
struct FileVersion {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;

    static FileVersion Of(const struct stat& info);
    bool operator==(const FileVersion&) const = default;
};

class ScanCache {
public:
    // Holds scans of at most budgetBytes in all; the scans used longest ago go first.
    explicit ScanCache(std::size_t budgetBytes);
    ScanCache(const ScanCache&) = delete;
    ScanCache& operator=(const ScanCache&) = delete;

    // The one cache of the process.
    static ScanCache& Shared();

    // The right to make the scan of one version of a file, which other openings of it wait
    // for until the claim ends (with its holder). The holder Keeps the scan before; a claim
    // that ends without a scan kept (a failed read) lets the next waiting opening try itself.
    class Claim {
    public:
        Claim() = default;
        ~Claim() { Release(); }
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        // True while this opening is the one to scan the file.
        bool Held() const { return cache_ != nullptr; }

    private:
        friend class ScanCache;
        void Release();
        ScanCache* cache_ = nullptr;
        std::string path_;
    };

    // Like Find, but where no scan is kept, waits while another opening makes one, and claims
    // the making when nobody does (claim then holds it, and the result is null).
    std::shared_ptr<const FileScan> FindOrClaim(const std::string& path, const FileVersion& version,
                                                Claim* claim);

    // The scan kept for this version of the file at path; null when there is none (a scan of
    // an earlier version is dropped).
    std::shared_ptr<const FileScan> Find(const std::string& path, const FileVersion& version);
    // Keeps scan for this version of the file at path, in place of any kept before. A scan
    // larger than the whole budget is not kept.
    void Keep(const std::string& path, const FileVersion& version,
              std::shared_ptr<const FileScan> scan);

private:
    struct Entry {
        std::string path;
        FileVersion version;
        std::shared_ptr<const FileScan> scan;
        std::size_t footprint = 0;
    };
    using Entries = std::list<Entry>;  // the most recently used first

    void Drop(Entries::iterator entry);
    std::shared_ptr<const FileScan> FindLocked(const std::string& path, const FileVersion& version);
    void EndClaim(const std::string& path);

    const std::size_t budget_;
    std::mutex mutex_;
    Entries entries_;
    std::unordered_map<std::string, Entries::iterator> byPath_;
    std::size_t used_ = 0;
    // The files being scanned, with the version each scan is of.
    std::unordered_map<std::string, FileVersion> scanning_;
    std::condition_variable scanEnded_;
};

}  // namespace platform::dshow
