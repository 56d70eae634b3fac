#include "decoder_model_replay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "media_fixtures.h"
#include "ps_fields.h"

namespace psmux_test {

namespace {

constexpr double kClock = 27000000.0;
constexpr int64_t kLpcmUnitTicks = 45000;  // an LPCM unit lasts 1/600 s
constexpr int kLpcmUnitsPerSecond = 600;
// The SCR tells when the byte holding the last bit of its base arrives: byte 8 of the pack
// in both systems syntaxes.
constexpr size_t kScrReferenceByte = 8;
// SCRs are whole ticks (MPEG-1: whole 90 kHz units), so a pack may start that much early.
constexpr double kMpeg2ScrResolution = 1;
constexpr double kMpeg1ScrResolution = core::kSystemClockTicksPerTick;
constexpr int kPrivateStream1 = 0xBD;
constexpr int kAllVideoStreams = 0xB9;
constexpr int kAllAudioStreams = 0xB8;

bool IsVideoId(int id) { return id >= 0xE0 && id <= 0xEF; }
bool IsMpegAudioId(int id) { return id >= 0xC0 && id <= 0xDF; }
bool IsLpcmSubstream(int sub) { return sub >= 0xA0 && sub <= 0xAF; }
bool IsAc3OrDtsSubstream(int sub) { return sub >= 0x80 && sub <= 0x8F; }

// Streams are keyed by PES id, private-stream-1 sub-streams by 0x100 + sub-stream id.
int KeyOfSubstream(int sub) { return 0x100 | sub; }

std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string Ms(double ticks) {
    std::ostringstream out;
    out.precision(3);
    out << std::fixed << ticks / 27000.0 << " ms";
    return out.str();
}

struct Delivery {
    double firstByteTime = 0;
    double ticksPerByte = 0;
    size_t offset = 0;  // within the stream's elementary bytes
    size_t bytes = 0;
    double LastByteTime() const { return firstByteTime + static_cast<double>(bytes - 1) * ticksPerByte; }
};

struct Unit {
    size_t start = 0;
    size_t end = 0;
    int64_t dts = 0;
};

struct Stream {
    int bufferId = 0;
    uint32_t stdBufferSize = 0;  // from a PES header's STD buffer field, 0 when none
    std::vector<Delivery> deliveries;
    size_t total = 0;
    std::vector<Unit> units;
    // LPCM: the format byte, and the time and offset of the first unit with a timestamp.
    int lpcmFormat = -1;
    int64_t lpcmStampedPts = -1;
    size_t lpcmStampedOffset = 0;
};

struct Pack {
    size_t start = 0;
    double scr = 0;
    double ticksPerByte = 0;
    double scrResolution = kMpeg2ScrResolution;
    double TimeOf(size_t fileOffset) const {
        return scr + (static_cast<double>(fileOffset) - static_cast<double>(start + kScrReferenceByte)) * ticksPerByte;
    }
};

class Replay {
public:
    explicit Replay(const std::string& path) : path_(path), bytes_(ReadFile(path)) {}

    DecoderModelReport Run() {
        if (ParseProgramStream() && ReadUnits()) {
            for (const auto& [key, stream] : streams_) CheckDelivery(key, stream);
            CheckBuffers();
        }
        return report_;
    }

private:
    void Error(const std::string& text) { report_.errors.push_back(text); }

    bool ParseProgramStream() {
        const size_t n = bytes_.size();
        size_t p = 0;
        bool afterPackHeader = false;
        while (p + 4 <= n) {
            const uint8_t* b = bytes_.data() + p;
            if (!(b[0] == 0 && b[1] == 0 && b[2] == 1)) {
                // Zero stuffing after a sector's packets.
                if (b[0] == 0) {
                    ++p;
                    continue;
                }
                Error("no start code at byte " + std::to_string(p));
                return false;
            }
            const int code = b[3];
            if (code == 0xB9) {
                p += 4;
                continue;
            }
            if (code == 0xBA) {
                const size_t length = ParsePackHeader(p);
                if (length == 0) return false;
                p += length;
                afterPackHeader = true;
                continue;
            }
            if (p + 6 > n || report_.packs == 0) {
                Error("packet outside a pack at byte " + std::to_string(p));
                return false;
            }
            const size_t end = p + 6 + Be16(b + 4);
            if (end > n) {
                Error("packet runs past the end of the file at byte " + std::to_string(p));
                return false;
            }
            if (code == 0xBB) {
                if (!afterPackHeader) ++systemHeadersInsidePacks_;
                ParseSystemHeader(p, end);
            } else if (code == kPrivateStream1 || IsMpegAudioId(code) || IsVideoId(code)) {
                if (!ParsePes(p, end)) return false;
            }
            afterPackHeader = false;
            p = end;
        }
        if (systemHeadersInsidePacks_ > 0)
            Error(std::to_string(systemHeadersInsidePacks_) + " system headers do not directly follow a pack header");
        if (packsTooFast_ > 0)
            Error(std::to_string(packsTooFast_) + " packs end after the next pack's SCR at their declared rate, the worst by " +
                  std::to_string(worstPackExcess_) + " ticks");
        return true;
    }

    // Answers the header's length, 0 when it cannot be read.
    size_t ParsePackHeader(size_t p) {
        const uint8_t* b = bytes_.data() + p;
        if (p + 14 > bytes_.size()) {
            Error("pack header cut short at byte " + std::to_string(p));
            return 0;
        }
        Pack pack;
        pack.start = p;
        uint32_t rate;
        size_t length;
        if ((b[4] & 0xC0) == 0x40) {
            pack.scr = static_cast<double>(ReadMpeg2Scr(b + 4));
            rate = static_cast<uint32_t>(b[10]) << 14 | static_cast<uint32_t>(b[11]) << 6 | b[12] >> 2;
            length = 14 + (b[13] & 7);
        } else if ((b[4] & 0xF0) == 0x20) {
            pack.scr = static_cast<double>(ReadTimestamp(b + 4) * core::kSystemClockTicksPerTick);
            pack.scrResolution = kMpeg1ScrResolution;
            rate = (static_cast<uint32_t>(b[9]) & 0x7F) << 15 | static_cast<uint32_t>(b[10]) << 7 | b[11] >> 1;
            length = 12;
        } else {
            Error("pack header of neither systems syntax at byte " + std::to_string(p));
            return 0;
        }
        if (rate == 0) {
            Error("pack header with a mux rate of 0 at byte " + std::to_string(p));
            return 0;
        }
        pack.ticksPerByte = kClock / (static_cast<double>(rate) * 50);
        if (report_.packs > 0) CheckPackPace(pack);
        pack_ = pack;
        ++report_.packs;
        return length;
    }

    // The previous pack's bytes, delivered at the rate its header declares, must all have
    // arrived before this pack's first byte.
    void CheckPackPace(const Pack& next) {
        const double lastByte = pack_.TimeOf(next.start - 1);
        const double excess = lastByte + pack_.ticksPerByte - next.TimeOf(next.start) - pack_.scrResolution;
        if (excess > 0) {
            ++packsTooFast_;
            worstPackExcess_ = std::max(worstPackExcess_, excess);
        }
    }

    void ParseSystemHeader(size_t p, size_t end) {
        for (size_t i = p + 12; i + 3 <= end; i += 3) {
            const uint8_t* e = bytes_.data() + i;
            if ((e[0] & 0x80) == 0) break;
            const uint32_t field = (static_cast<uint32_t>(e[1]) & 0x1F) << 8 | e[2];
            systemBufferSizes_[e[0]] = field * ((e[1] & 0x20) ? 1024 : 128);
        }
    }

    bool ParsePes(size_t p, size_t end) {
        const uint8_t* b = bytes_.data() + p;
        const int id = b[3];
        size_t q;
        int64_t pts = -1;
        uint32_t stdSize = 0;
        auto readStd = [&](const uint8_t* f) {
            stdSize = ((static_cast<uint32_t>(f[0]) & 0x1F) << 8 | f[1]) * ((f[0] & 0x20) ? 1024 : 128);
        };
        if ((b[6] & 0xC0) == 0x80) {
            const int flags = b[7];
            q = p + 9;
            if (flags & 0x80) pts = ReadTimestamp(bytes_.data() + q) * core::kSystemClockTicksPerTick;
            q += (flags & 0x80 ? 5 : 0) + (flags & 0x40 ? 5 : 0) + (flags & 0x20 ? 6 : 0) + (flags & 0x10 ? 3 : 0) +
                 (flags & 0x08 ? 1 : 0) + (flags & 0x04 ? 1 : 0) + (flags & 0x02 ? 2 : 0);
            if ((flags & 0x01) && q < end) {
                const int extension = bytes_[q++];
                if (extension & 0x80) q += 16;
                if ((extension & 0x40) && q < end) q += 1 + bytes_[q];
                if (extension & 0x20) q += 2;
                if ((extension & 0x10) && q + 2 <= end) readStd(bytes_.data() + q);
            }
            q = p + 9 + b[8];
        } else {
            q = p + 6;
            while (q < end && bytes_[q] == 0xFF) ++q;
            if (q + 2 <= end && (bytes_[q] & 0xC0) == 0x40) {
                readStd(bytes_.data() + q);
                q += 2;
            }
            if (q < end && (bytes_[q] & 0xF0) == 0x20) {
                pts = ReadTimestamp(bytes_.data() + q) * core::kSystemClockTicksPerTick;
                q += 5;
            } else if (q < end && (bytes_[q] & 0xF0) == 0x30) {
                pts = ReadTimestamp(bytes_.data() + q) * core::kSystemClockTicksPerTick;
                q += 10;
            } else if (q < end && bytes_[q] == 0x0F) {
                q += 1;
            } else {
                Error("MPEG-1 packet header not understood at byte " + std::to_string(p));
                return false;
            }
        }
        if (q > end) {
            Error("packet header runs past its packet at byte " + std::to_string(p));
            return false;
        }
        int key = id;
        size_t header = 0;
        if (id == kPrivateStream1) {
            const int sub = q < end ? bytes_[q] : -1;
            if (IsLpcmSubstream(sub))
                header = 7;
            else if (IsAc3OrDtsSubstream(sub))
                header = 4;
            else {
                Error("private stream 1 sub-stream " + Hex(sub) + " not understood at byte " + std::to_string(p));
                return false;
            }
            if (q + header > end) {
                Error("sub-stream header runs past its packet at byte " + std::to_string(p));
                return false;
            }
            key = KeyOfSubstream(sub);
        }
        Stream& stream = streams_[key];
        stream.bufferId = id;
        if (stdSize != 0) stream.stdBufferSize = stdSize;
        if (header == 7) NoteLpcmHeader(stream, bytes_.data() + q, pts);
        const size_t first = q + header;
        if (first < end) {
            stream.deliveries.push_back({pack_.TimeOf(first), pack_.ticksPerByte, stream.total, end - first});
            stream.total += end - first;
        }
        return true;
    }

    static void NoteLpcmHeader(Stream& stream, const uint8_t* header, int64_t pts) {
        stream.lpcmFormat = header[5];
        const uint32_t pointer = Be16(header + 2);
        if (pts >= 0 && stream.lpcmStampedPts < 0 && pointer > 0) {
            stream.lpcmStampedPts = pts;
            stream.lpcmStampedOffset = stream.total + pointer - 1;
        }
    }

    // ffprobe cuts every stream but LPCM into its access units and times them; LPCM units are
    // fixed blocks of 1/600 s.
    bool ReadUnits() {
        const std::string out = psmux_test::Run(
            "ffprobe -v error -show_entries stream=index,id:packet=stream_index,pts,dts,size -of csv " + Quote(path_));
        std::map<int, int> keyOfIndex;
        std::map<int, std::vector<std::pair<int64_t, size_t>>> probed;  // (dts, size) by stream index
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
            if (f.size() >= 3 && f[0] == "stream") {
                const int id = static_cast<int>(std::stoul(f[2], nullptr, 16));
                keyOfIndex[std::stoi(f[1])] = id >= 0x100 ? (id & 0xFF) : KeyOfSubstream(id);
            } else if (f.size() >= 5 && f[0] == "packet") {
                const std::string& time = f[3] != "N/A" ? f[3] : f[2];
                if (time == "N/A") {
                    Error("ffprobe gives a unit of stream " + f[1] + " no time");
                    return false;
                }
                probed[std::stoi(f[1])].push_back({std::stoll(time) * core::kSystemClockTicksPerTick, std::stoul(f[4])});
            }
        }
        for (auto& [key, stream] : streams_) {
            if (stream.lpcmFormat >= 0) {
                if (!CutLpcmUnits(key, stream)) return false;
                continue;
            }
            size_t at = 0;
            for (const auto& [index, units] : probed) {
                if (keyOfIndex.count(index) == 0 || keyOfIndex[index] != key) continue;
                for (const auto& [dts, size] : units) {
                    stream.units.push_back({at, at + size, dts});
                    at += size;
                }
            }
            if (at != stream.total) {
                Error("stream " + Hex(key) + ": ffprobe's units hold " + std::to_string(at) + " bytes, its packets " +
                      std::to_string(stream.total));
                return false;
            }
            report_.units += static_cast<int>(stream.units.size());
        }
        return true;
    }

    bool CutLpcmUnits(int key, Stream& stream) {
        const int bits = 16 + 4 * (stream.lpcmFormat >> 6);
        const int rate = ((stream.lpcmFormat >> 4) & 3) == 1 ? 96000 : 48000;
        const int channels = (stream.lpcmFormat & 7) + 1;
        const size_t unitBytes = static_cast<size_t>(rate / kLpcmUnitsPerSecond * channels * bits / 8);
        if (stream.lpcmStampedPts < 0) {
            Error("LPCM stream " + Hex(key) + " has no timestamped unit");
            return false;
        }
        const int64_t firstDts = stream.lpcmStampedPts -
                                 static_cast<int64_t>(stream.lpcmStampedOffset / unitBytes) * kLpcmUnitTicks;
        for (size_t start = 0, k = 0; start < stream.total; start += unitBytes, ++k)
            stream.units.push_back({start, std::min(start + unitBytes, stream.total),
                                    firstDts + static_cast<int64_t>(k) * kLpcmUnitTicks});
        report_.units += static_cast<int>(stream.units.size());
        return true;
    }

    static double ArrivalOf(const Stream& stream, size_t offset) {
        auto after = std::upper_bound(stream.deliveries.begin(), stream.deliveries.end(), offset,
                                      [](size_t o, const Delivery& d) { return o < d.offset; });
        const Delivery& d = *(after - 1);
        return d.firstByteTime + static_cast<double>(offset - d.offset) * d.ticksPerByte;
    }

    void CheckDelivery(int key, const Stream& stream) {
        int late = 0;
        int underflows = 0;
        double worst = 0;
        for (const Unit& unit : stream.units) {
            const double lateness = ArrivalOf(stream, unit.end - 1) - static_cast<double>(unit.dts);
            if (lateness <= 0) continue;
            ++late;
            worst = std::max(worst, lateness);
            if (ArrivalOf(stream, unit.start) > static_cast<double>(unit.dts)) ++underflows;
        }
        report_.lateUnits += late;
        report_.worstLateMs = std::max(report_.worstLateMs, worst / 27000.0);
        if (late > 0)
            Error("stream " + Hex(key) + ": " + std::to_string(late) + " of " + std::to_string(stream.units.size()) +
                  " units arrive after their decode time, the worst by " + Ms(worst));
        if (underflows > 0)
            Error("stream " + Hex(key) + ": " + std::to_string(underflows) +
                  " units not begun at their decode time (buffer underflow)");
    }

    uint32_t BufferSizeOf(int bufferId, const std::vector<const Stream*>& members) const {
        auto announced = [&](int id) {
            auto found = systemBufferSizes_.find(id);
            return found == systemBufferSizes_.end() ? 0u : found->second;
        };
        uint32_t size = announced(bufferId);
        if (size == 0 && IsVideoId(bufferId)) size = announced(kAllVideoStreams);
        if (size == 0 && IsMpegAudioId(bufferId)) size = announced(kAllAudioStreams);
        for (const Stream* s : members)
            if (size == 0) size = s->stdBufferSize;
        return size;
    }

    // A buffer is fullest just before a unit leaves it or when a packet's last byte is in.
    void CheckBuffers() {
        std::map<int, std::vector<const Stream*>> buffers;
        for (const auto& [key, stream] : streams_) buffers[stream.bufferId].push_back(&stream);
        for (const auto& [bufferId, members] : buffers) {
            const uint32_t size = BufferSizeOf(bufferId, members);
            if (size == 0) {
                Error("no buffer size is announced for stream " + Hex(bufferId));
                continue;
            }
            std::vector<Delivery> in;
            std::vector<std::pair<int64_t, size_t>> out;
            for (const Stream* s : members) {
                in.insert(in.end(), s->deliveries.begin(), s->deliveries.end());
                for (const Unit& u : s->units) out.push_back({u.dts, u.end - u.start});
            }
            std::sort(in.begin(), in.end(),
                      [](const Delivery& a, const Delivery& b) { return a.firstByteTime < b.firstByteTime; });
            std::sort(out.begin(), out.end());
            CheckBuffer(bufferId, size, in, out);
        }
    }

    void CheckBuffer(int bufferId, uint32_t size, const std::vector<Delivery>& in,
                     const std::vector<std::pair<int64_t, size_t>>& out) {
        std::vector<double> arrivedThrough(in.size());
        double sum = 0;
        for (size_t i = 0; i < in.size(); ++i) arrivedThrough[i] = sum += static_cast<double>(in[i].bytes);
        std::vector<double> removedThrough(out.size());
        sum = 0;
        for (size_t i = 0; i < out.size(); ++i) removedThrough[i] = sum += static_cast<double>(out[i].second);
        auto removedBefore = [&](double t) {
            auto it = std::lower_bound(out.begin(), out.end(), t,
                                       [](const std::pair<int64_t, size_t>& r, double v) { return static_cast<double>(r.first) < v; });
            return it == out.begin() ? 0.0 : removedThrough[static_cast<size_t>(it - out.begin()) - 1];
        };
        auto arrivedBefore = [&](double t) {
            auto it = std::lower_bound(in.begin(), in.end(), t,
                                       [](const Delivery& d, double v) { return d.firstByteTime < v; });
            if (it == in.begin()) return 0.0;
            const size_t i = static_cast<size_t>(it - in.begin()) - 1;
            const double partial = std::min<double>(static_cast<double>(in[i].bytes),
                                                    std::ceil((t - in[i].firstByteTime) / in[i].ticksPerByte));
            return arrivedThrough[i] - static_cast<double>(in[i].bytes) + partial;
        };
        double worst = 0;
        double worstAt = 0;
        auto consider = [&](double fullness, double t) {
            if (fullness > worst) {
                worst = fullness;
                worstAt = t;
            }
        };
        for (size_t i = 0; i < in.size(); ++i) consider(arrivedThrough[i] - removedBefore(in[i].LastByteTime()), in[i].LastByteTime());
        for (const auto& [dts, bytes] : out) consider(arrivedBefore(static_cast<double>(dts)) - removedBefore(static_cast<double>(dts)), static_cast<double>(dts));
        report_.worstFullness = std::max(report_.worstFullness, worst / size);
        if (worst > size)
            Error("buffer of stream " + Hex(bufferId) + " holds " + std::to_string(static_cast<int64_t>(worst)) +
                  " bytes of its " + std::to_string(size) + " at " + Ms(worstAt));
    }

    std::string path_;
    std::vector<uint8_t> bytes_;
    DecoderModelReport report_;
    Pack pack_;
    int packsTooFast_ = 0;
    double worstPackExcess_ = 0;
    int systemHeadersInsidePacks_ = 0;
    std::map<int, uint32_t> systemBufferSizes_;
    std::map<int, Stream> streams_;
};

}  // namespace

std::string DecoderModelReport::Summary() const {
    std::ostringstream out;
    out << packs << " packs, " << units << " units, " << lateUnits << " late (worst " << worstLateMs
        << " ms), fullest buffer " << worstFullness * 100 << " %";
    for (const std::string& e : errors) out << "\n  " << e;
    return out.str();
}

DecoderModelReport ReplayDecoderModel(const std::string& path) { return Replay(path).Run(); }

}  // namespace psmux_test
