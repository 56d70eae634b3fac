#include "driver/temp_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/log.h"

namespace driver {

void TempFiles::BeginClip(const std::string& vob, const std::string& videoStream,
                          const std::string& audioStream) {
    clipVob_ = vob;
    clipVideo_ = videoStream;
    clipAudio_ = audioStream;
}

void TempFiles::ClipMade() {
    vobs_.push_back(clipVob_);
    ReleaseStream(clipVideo_, keptVideo_);
    ReleaseStream(clipAudio_, keptAudio_);
    BeginClip({}, {}, {});
}

void TempFiles::DiscardClip() {
    for (const std::string& path : {clipVob_, clipVideo_, clipAudio_}) {
        if (!path.empty()) Delete(path);
    }
    BeginClip({}, {}, {});
}

void TempFiles::DiscAuthored() {
    if (!deleteWhenUsed_) return;
    for (const std::string& vob : vobs_) Delete(vob);
    vobsDeleted_ = true;
}

std::vector<std::string> TempFiles::Kept() const {
    std::vector<std::string> kept;
    if (!vobsDeleted_) kept = vobs_;
    kept.insert(kept.end(), keptVideo_.begin(), keptVideo_.end());
    kept.insert(kept.end(), keptAudio_.begin(), keptAudio_.end());
    kept.insert(kept.end(), undeleted_.begin(), undeleted_.end());
    return kept;
}

void TempFiles::ReleaseStream(const std::string& stream, std::vector<std::string>& kept) {
    if (stream.empty()) return;
    if (deleteWhenUsed_) {
        Delete(stream);
    } else {
        kept.push_back(stream);
    }
}

void TempFiles::Delete(const std::string& path) {
    // unlink, not remove: a folder of the user's under one of these names (which the job
    // could not have written) must never go.
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return;
    core::LogPrintf("Cannot delete %s: %s\n", path.c_str(), std::strerror(errno));
    undeleted_.push_back(path);
}

}  // namespace driver
