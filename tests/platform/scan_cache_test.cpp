// The cache of file scans: a scan serves only the version of the file it was made of, and the
// cache keeps to its memory budget by dropping the scans used longest ago.
#include "platform/dshow/scan_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform::dshow {
namespace {

FileVersion Version() {
    FileVersion version;
    version.device = 2049;
    version.inode = 131;
    version.size = 4'000'000'000;
    version.modifiedSeconds = 1'700'000'000;
    version.modifiedNanoseconds = 250'000'000;
    return version;
}

std::shared_ptr<const FileScan> ScanOf(double videoLength, size_t keyPlaces = 0) {
    auto scan = std::make_shared<FileScan>();
    scan->videoLength = videoLength;
    scan->keyPlaces.resize(keyPlaces);
    return scan;
}

TEST(ScanCache, ServesOnlyTheVersionItWasMadeOf) {
    const struct {
        const char* change;
        std::function<void(FileVersion&)> apply;
    } changes[] = {
        {"rewritten in the same second", [](FileVersion& v) { v.modifiedNanoseconds += 1; }},
        {"rewritten later", [](FileVersion& v) { v.modifiedSeconds += 1; }},
        {"grown", [](FileVersion& v) { v.size += 1; }},
        {"replaced by another file", [](FileVersion& v) { v.inode += 1; }},
        {"on another disk", [](FileVersion& v) { v.device += 1; }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.change);
        ScanCache cache(1 << 20);
        cache.Keep("/videos/a.ts", Version(), ScanOf(60.0));
        ASSERT_NE(cache.Find("/videos/a.ts", Version()), nullptr);
        EXPECT_EQ(cache.Find("/videos/b.ts", Version()), nullptr);

        FileVersion changed = Version();
        c.apply(changed);
        EXPECT_EQ(cache.Find("/videos/a.ts", changed), nullptr);
        // The scan of the old version is gone, not merely passed over.
        EXPECT_EQ(cache.Find("/videos/a.ts", Version()), nullptr);
    }
}

TEST(ScanCache, KeepsToItsBudgetDroppingTheLeastRecentlyUsed) {
    const size_t oneScan = ScanOf(1.0, 1000)->Footprint() + std::string("/v/a.ts").size();
    ScanCache cache(oneScan * 2);
    cache.Keep("/v/a.ts", Version(), ScanOf(1.0, 1000));
    cache.Keep("/v/b.ts", Version(), ScanOf(2.0, 1000));
    ASSERT_NE(cache.Find("/v/a.ts", Version()), nullptr);  // a is now the more recent
    cache.Keep("/v/c.ts", Version(), ScanOf(3.0, 1000));
    EXPECT_EQ(cache.Find("/v/b.ts", Version()), nullptr);
    ASSERT_NE(cache.Find("/v/a.ts", Version()), nullptr);
    EXPECT_EQ(cache.Find("/v/a.ts", Version())->videoLength, 1.0);
    EXPECT_NE(cache.Find("/v/c.ts", Version()), nullptr);

    // A newer scan of a file replaces the older one and is counted once.
    cache.Keep("/v/c.ts", Version(), ScanOf(4.0, 1000));
    EXPECT_EQ(cache.Find("/v/c.ts", Version())->videoLength, 4.0);
    EXPECT_NE(cache.Find("/v/a.ts", Version()), nullptr);

    // A scan larger than the whole budget is not kept, and drops nothing.
    cache.Keep("/v/huge.ts", Version(), ScanOf(5.0, 10000));
    EXPECT_EQ(cache.Find("/v/huge.ts", Version()), nullptr);
    EXPECT_NE(cache.Find("/v/a.ts", Version()), nullptr);
    EXPECT_NE(cache.Find("/v/c.ts", Version()), nullptr);
}

// The add-clips thread, the job's worker and the window use one cache at once.
TEST(ScanCache, ServesThreadsAtOnce) {
    ScanCache cache(64 * ScanOf(1.0, 100)->Footprint());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string path = "/v/" + std::to_string((i + t) % 100) + ".ts";
                if (const auto scan = cache.Find(path, Version())) {
                    EXPECT_EQ(scan->keyPlaces.size(), 100u);
                } else {
                    cache.Keep(path, Version(), ScanOf(1.0, 100));
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

// One opening scans a file while others of the same version wait for its scan; a scan that
// failed leaves the file to the next opening, and a scan of another version holds nobody up.
TEST(ScanCache, OpeningsOfAFileBeingScannedWaitForThatScan) {
    ScanCache cache(1 << 20);
    std::shared_ptr<const FileScan> seen;
    std::thread waiter;
    {
        ScanCache::Claim scanning;
        ASSERT_EQ(cache.FindOrClaim("/v/a.ts", Version(), &scanning), nullptr);
        ASSERT_TRUE(scanning.Held());

        FileVersion rewritten = Version();
        rewritten.size += 1;
        ScanCache::Claim other;
        EXPECT_EQ(cache.FindOrClaim("/v/a.ts", rewritten, &other), nullptr);
        EXPECT_FALSE(other.Held());

        waiter = std::thread([&] {
            ScanCache::Claim claim;
            seen = cache.FindOrClaim("/v/a.ts", Version(), &claim);
            EXPECT_FALSE(claim.Held());
        });
        // Gives the waiter time to find the scan under way; it gets the scan either way.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cache.Keep("/v/a.ts", Version(), ScanOf(60.0));
    }
    waiter.join();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->videoLength, 60.0);

    {
        ScanCache::Claim failed;
        ASSERT_EQ(cache.FindOrClaim("/v/b.ts", Version(), &failed), nullptr);
    }
    ScanCache::Claim next;
    EXPECT_EQ(cache.FindOrClaim("/v/b.ts", Version(), &next), nullptr);
    EXPECT_TRUE(next.Held());
}

}  // namespace
}  // namespace platform::dshow
