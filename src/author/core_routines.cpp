#include "author/core_routines.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "author/model.h"

namespace author {

namespace {

// Indexed by MPEG frame_rate_code; code 0 (not set) is taken as 30000/1001.
constexpr int kRateDenominator[9] = {0, 90090, 90000, 90000, 90090, 90000, 90000, 90090, 90000};
constexpr int kEvenRate[9] = {0, 24, 24, 25, 30, 30, 50, 60, 60};
constexpr int kDefaultFrameRateCode = 4;

int frame_rate_code(const VobGroup* group) {
    const int code = group->video.frame_rate;
    return code >= 1 && code <= 8 ? code : kDefaultFrameRateCode;
}

constexpr int kNtscTimecodeRate = 30;
constexpr int kPalTimecodeRate = 25;
constexpr uint32_t kRateFlag30 = 3;
constexpr uint32_t kRateFlag25 = 1;

uint32_t bcd(uint32_t value) { return (value / 10) * 16 + value % 10; }

}  // namespace

int get_rate_denominator(const VobGroup* group) { return kRateDenominator[frame_rate_code(group)]; }

int get_frame_pts(const VobGroup* group) {
    const int code = frame_rate_code(group);
    return kRateDenominator[code] / kEvenRate[code];
}

uint32_t build_time_bcd(int64_t ticks, int64_t rate_denominator) {
    const bool ntsc = rate_denominator == 90090;
    const int64_t fps = ntsc ? kNtscTimecodeRate : kPalTimecodeRate;
    const uint32_t flag = ntsc ? kRateFlag30 : kRateFlag25;
    // Half a frame and one tick round the time to the nearest frame.
    const int64_t n = ticks + rate_denominator / (2 * fps) + 1;
    const int64_t whole_seconds = n / rate_denominator;
    const int64_t frames = (n % rate_denominator) * fps / rate_denominator;
    const uint32_t s = static_cast<uint32_t>(whole_seconds);
    return bcd(s / 3600) << 24 | bcd((s / 60) % 60) << 16 | bcd(s % 60) << 8 |
           bcd(static_cast<uint32_t>(frames)) | flag << 6;
}

uint32_t build_time_even(const VobGroup* group, int64_t ticks) {
    return build_time_bcd(ticks, get_rate_denominator(group));
}

int get_audio_stream_id(const VobGroup* group, int track) {
    if (track < 0 || track >= kMaxAudioTracks) return -1;
    const AudioAttr& attr = group->audio[track];
    if (attr.stream_number == 0 || attr.format < 1 || attr.format > 4) return -1;
    return (attr.format - 1) * 8 + (attr.stream_number - 1);
}

void write8(uint8_t* buffer, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4,
            uint8_t b5, uint8_t b6, uint8_t b7) {
    const uint8_t bytes[8] = {b0, b1, b2, b3, b4, b5, b6, b7};
    std::memcpy(buffer, bytes, sizeof bytes);
}

char* strsep(char** text, const char* delimiters) {
    if (text == nullptr || *text == nullptr || **text == '\0') return nullptr;
    char* start = *text;
    char* p = start + std::strcspn(start, delimiters);
    if (*p != '\0') {
        *p = '\0';
        *text = p + 1;
    } else {
        *text = p;
    }
    return start;
}

class DirListing {
public:
    explicit DirListing(DIR* dir) : dir_(dir) {}
    ~DirListing() { ::closedir(dir_); }
    DirListing(const DirListing&) = delete;
    DirListing& operator=(const DirListing&) = delete;

    const char* next() {
        const dirent* entry = ::readdir(dir_);
        return entry != nullptr ? entry->d_name : nullptr;
    }

private:
    DIR* dir_;
};

void DirListingCloser::operator()(DirListing* listing) const { delete listing; }

DirListingPtr opendir(const char* name) {
    if (name == nullptr || *name == '\0') {
        errno = EINVAL;
        return nullptr;
    }
    DIR* dir = ::opendir(name);
    if (dir == nullptr) return nullptr;
    return DirListingPtr(new DirListing(dir));
}

const char* readdir(DirListing* listing) {
    if (listing == nullptr) {
        errno = EBADF;
        return nullptr;
    }
    return listing->next();
}

}  // namespace author
