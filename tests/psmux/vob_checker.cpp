#include "vob_checker.h"

#include <cstring>
#include <sstream>

#include "ps_fields.h"

namespace psmux_test {

namespace {

constexpr size_t kSector = 2048;

class Checker {
public:
    Checker(const std::vector<uint8_t>& bytes, uint32_t rateBound) : bytes_(bytes), rateBound_(rateBound) {}

    VobReport Check() {
        if (bytes_.empty() || bytes_.size() % kSector != 0) Error(-1, "file size is not a multiple of 2048");
        const int count = static_cast<int>(bytes_.size() / kSector);
        report_.sectors = count;
        bool previousWasNav = false;
        for (int i = 0; i < count; ++i) {
            const uint8_t* s = bytes_.data() + static_cast<size_t>(i) * kSector;
            bool isNav = false;
            bool startsIPicture = false;
            CheckSector(i, s, i == count - 1, isNav, startsIPicture);
            if (startsIPicture && !previousWasNav) Error(i, "I-picture sector without a navigation sector before it");
            if (previousWasNav && !startsIPicture) Error(i, "navigation sector not followed by an I-picture sector");
            previousWasNav = isNav;
        }
        return report_;
    }

private:
    void Error(int sector, const std::string& text) {
        if (report_.errors.size() < 20) report_.errors.push_back("sector " + std::to_string(sector) + ": " + text);
    }

    void CheckSector(int index, const uint8_t* s, bool last, bool& isNav, bool& startsIPicture) {
        if (!StartCode(s, 0xBA) || (s[4] & 0xC4) != 0x44) return Error(index, "no MPEG-2 pack header");
        const int64_t scr = ReadMpeg2Scr(s + 4);
        if (!report_.scrs.empty() && scr <= report_.scrs.back()) Error(index, "SCR does not rise");
        report_.scrs.push_back(scr);
        uint32_t rate = static_cast<uint32_t>(s[10]) << 14 | static_cast<uint32_t>(s[11]) << 6 | s[12] >> 2;
        if (rate != rateBound_) Error(index, "mux rate " + std::to_string(rate));
        size_t p = 14 + (s[13] & 7);
        if (StartCode(s + p, 0xBB)) p += 6 + Be16(s + p + 4);

        if (StartCode(s + p, 0xBF)) {
            isNav = true;
            ++report_.navSectors;
            // The authoring engine finds and overwrites exactly this layout.
            static const uint8_t kSystemHeader[24] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4,
                                                      0xE1, 0x04, 0xE1, 0xFF, 0xB9, 0xE0, 0xE8, 0xB8,
                                                      0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
            static const uint8_t kFirst[9] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x81, 0x00, 0x00};
            static const uint8_t kSecond[9] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x81, 0x00, 0x00};
            bool zeros = true;
            for (size_t k = 47; k < kSector; ++k)
                if ((k < 1024 || k >= 1033) && s[k] != 0) zeros = false;
            if (p != 38 || std::memcmp(s + 14, kSystemHeader, 24) != 0 || std::memcmp(s + 38, kFirst, 9) != 0 ||
                std::memcmp(s + 1024, kSecond, 9) != 0 || !zeros)
                Error(index, "navigation placeholder layout");
            return;
        }
        int pesPackets = 0;
        while (p < kSector) {
            if (p + 4 <= kSector && StartCode(s + p, 0xB9)) {
                if (!last || p != kSector - 4) Error(index, "program end code not at the end of the last sector");
                p += 4;
                continue;
            }
            if (p + 6 > kSector || s[p] != 0 || s[p + 1] != 0 || s[p + 2] != 1)
                return Error(index, "bytes that are no packet at " + std::to_string(p));
            const int id = s[p + 3];
            const size_t length = Be16(s + p + 4);
            const size_t end = p + 6 + length;
            if (end > kSector) return Error(index, "packet runs past the sector");
            if (id == 0xBE) {
                if (6 + length < 10 && !last) Error(index, "padding packet smaller than 10 bytes");
            } else if (id == 0xE0 || id == 0xC0 || id == 0xBD) {
                ++pesPackets;
                if (!CheckPes(index, s + p, length, id, startsIPicture)) return;
            } else {
                Error(index, "unexpected stream id " + std::to_string(id));
            }
            p = end;
        }
        if (last && !StartCode(s + kSector - 4, 0xB9)) Error(index, "last sector holds no program end code");
        if (pesPackets > 1) Error(index, "more than one PES packet");
    }

    bool CheckPes(int index, const uint8_t* pkt, size_t length, int id, bool& startsIPicture) {
        if ((pkt[6] & 0xC0) != 0x80) {
            Error(index, "PES header is not MPEG-2");
            return false;
        }
        PesPacketInfo info;
        info.sector = index;
        info.streamId = id;
        const int flags = pkt[7];
        const size_t headerData = pkt[8];
        size_t q = 9;
        if (flags & 0x80) {
            info.hasPts = true;
            info.pts = ReadTimestamp(pkt + q);
            q += 5;
        }
        if (flags & 0x40) {
            info.hasDts = true;
            info.dts = ReadTimestamp(pkt + q);
            q += 5;
        }
        if (flags & 0x01) {
            if (pkt[q] != 0x1E) Error(index, "PES extension other than the STD buffer field");
            q += 3;
        }
        if (q > 9 + headerData) {
            Error(index, "PES header fields run past the header-data length");
            return false;
        }
        const size_t stuffing = 9 + headerData - q;
        if (stuffing > 9) Error(index, "more than 9 stuffing bytes");
        for (size_t k = q; k < 9 + headerData; ++k)
            if (pkt[k] != 0xFF) Error(index, "stuffing byte other than 0xFF");
        const uint8_t* payload = pkt + 9 + headerData;
        size_t size = 6 + length - (9 + headerData);
        if (id == 0xE0) {
            info.payloadOffset = report_.video.size();
            info.payloadSize = size;
            report_.video.insert(report_.video.end(), payload, payload + size);
            if (info.hasPts) {
                if (size < 6 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1)
                    Error(index, "timestamped video packet does not start an access unit");
                startsIPicture = true;
            }
        } else {
            if (id == 0xBD) {
                info.substreamId = payload[0];
                size_t header = info.substreamId >= 0xA0 ? 7 : 4;
                info.frameCount = payload[1];
                info.firstUnitPointer = static_cast<int>(Be16(payload + 2));
                payload += header;
                size -= header;
            }
            info.payloadOffset = report_.audio.size();
            info.payloadSize = size;
            report_.audio.insert(report_.audio.end(), payload, payload + size);
        }
        report_.packets.push_back(info);
        return true;
    }

    const std::vector<uint8_t>& bytes_;
    uint32_t rateBound_;
    VobReport report_;
};

}  // namespace

std::string VobReport::Summary() const {
    std::ostringstream out;
    out << sectors << " sectors, " << navSectors << " navigation sectors";
    for (const std::string& e : errors) out << "\n  " << e;
    return out.str();
}

VobReport CheckDvdVob(const std::vector<uint8_t>& bytes, uint32_t rateBound) {
    return Checker(bytes, rateBound).Check();
}

}  // namespace psmux_test
