// What the encoders and the direct writer read from the job that owns them.
//
// The job object implements EncoderHost; the encoders hold it for the life of one clip and read
// it when they open, never while encoding.
#pragma once

#include "core/settings.h"

namespace core {

// How the decoded picture maps onto the output frame: bands cut from the source, then the
// cropped source is scaled into the output frame less the pad bands, which keep the pad colour.
struct PictureGeometry {
    int SourceWidth = 0;
    int SourceHeight = 0;
    int CropTop = 0;
    int CropBottom = 0;
    int CropLeft = 0;
    int CropRight = 0;
    int PadTop = 0;
    int PadBottom = 0;
    int PadLeft = 0;
    int PadRight = 0;
    int PadY = 16;  // black
    int PadU = 128;
    int PadV = 128;
    bool NeedsScaling = false;
};

// The decoded sound: interleaved signed 16-bit PCM.
struct SourceAudio {
    int Channels = 0;
    int SampleRate = 0;
};

class EncoderHost {
public:
    virtual ~EncoderHost() = default;
    // The settings with their derived fields (output size, frame rate, audio kbit/s) filled in.
    virtual const Settings& EncoderSettings() const = 0;
    virtual PictureGeometry EncoderPicture() const = 0;
    virtual SourceAudio EncoderAudioInput() const = 0;
};

// A host that holds its values in public fields: for tools, tests and headless callers.
struct FixedEncoderHost : EncoderHost {
    Settings settings;
    PictureGeometry picture;
    SourceAudio audio;

    const Settings& EncoderSettings() const override { return settings; }
    PictureGeometry EncoderPicture() const override { return picture; }
    SourceAudio EncoderAudioInput() const override { return audio; }
};

}  // namespace core
