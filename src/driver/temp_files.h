// The intermediate files a job writes into the output folder (each clip's elementary streams
// and VOB), from the moment they are created until the job deletes them or leaves them to the
// user.
#pragma once

#include <string>
#include <vector>

namespace driver {

// The files a clip's encoding writes into the output folder, named with the clip's index.
inline constexpr const char* kClipVobName = "Lumivane%02d.vob";
inline constexpr const char* kClipVideoName = "Chapter%02d.m2v";
inline constexpr const char* kClipMp2Name = "Chapter%02d.mp2";
inline constexpr const char* kClipAc3Name = "Chapter%02d.ac3";

}  // namespace driver

namespace driver {

class TempFiles {
public:
    // deleteWhenUsed: the "Delete temp files after encoding" setting. Set, a clip's streams go
    // as soon as its VOB is complete and the VOBs once a disc holds them; clear, both stay.
    explicit TempFiles(bool deleteWhenUsed) : deleteWhenUsed_(deleteWhenUsed) {}

    // The clip now being made has created its files (the stream paths are empty in direct
    // mode, where the VOB is written at once).
    void BeginClip(const std::string& vob, const std::string& videoStream,
                   const std::string& audioStream);
    // The clip's VOB is complete: it joins the disc's list.
    void ClipMade();
    // The clip did not become a VOB: whatever it wrote is partial and goes, whatever the
    // setting says.
    void DiscardClip();
    // A disc holds every VOB now.
    void DiscAuthored();

    const std::vector<std::string>& Vobs() const { return vobs_; }
    // The files the job leaves in the output folder, VOBs first, then the video and the audio
    // streams, then what could not be deleted.
    std::vector<std::string> Kept() const;

private:
    // A stream of a made clip: deleted, or kept when the setting says so.
    void ReleaseStream(const std::string& stream, std::vector<std::string>& kept);
    // Deletes a file the job wrote; a failure is logged and the file counted as kept.
    void Delete(const std::string& path);

    bool deleteWhenUsed_;
    std::string clipVob_, clipVideo_, clipAudio_;
    std::vector<std::string> vobs_;
    bool vobsDeleted_ = false;
    std::vector<std::string> keptVideo_, keptAudio_;
    std::vector<std::string> undeleted_;
};

}  // namespace driver
