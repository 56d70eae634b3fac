// Stream attributes: the first-value-wins rule, the setters and the mapping of found streams.
#include <gtest/gtest.h>

#include "author/attributes.h"
#include "author/audio_agreement.h"
#include "author/diagnostics.h"
#include "author/model.h"

using namespace author;

namespace {

std::string captured(const std::function<void()>& action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

TEST(Attributes, FirstValueWinsAndWarnsOnce) {
    VobGroup g;
    EXPECT_EQ(captured([&] {
                  EXPECT_EQ(set_video_attr(&g, kVideoAny, "pal"), 0);
                  EXPECT_EQ(set_video_attr(&g, kVideoAny, "pal"), 0);
              }),
              "");
    EXPECT_EQ(captured([&] { EXPECT_EQ(set_video_attr(&g, kVideoAny, "ntsc"), 1); }),
              "WARN: attempt to update tv format from pal to ntsc; skipping\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(set_video_attr(&g, kVideoAny, "ntsc"), 1); }), "");
    EXPECT_EQ(g.video.tv_standard, 2);
}

TEST(Attributes, VideoWords) {
    struct Case {
        int category;
        const char* word;
        int resolution, tv_standard, caption, mpeg, aspect, widescreen;
    };
    const Case cases[] = {
        {kVideoAny, "720x576", 1, 2, 0, 0, 0, 0},
        {kVideoAny, "352x240", 4, 1, 0, 0, 0, 0},
        {kVideoAny, "704xhigh", 2, 0, 0, 0, 0, 0},
        {kVideoAny, "352xhalf", 4, 0, 0, 0, 0, 0},
        {kVideoAny, "352xfull", 3, 0, 0, 0, 0, 0},
        {kVideoResolution, "720x480", 1, 1, 0, 0, 0, 0},
        {kVideoAny, "field2", 0, 0, 2, 0, 0, 0},
        {kVideoCaption, "field1", 0, 0, 1, 0, 0, 0},
        {kVideoAny, "mpeg1", 0, 0, 0, 1, 0, 0},
        {kVideoAny, "16:9", 0, 0, 0, 0, 2, 0},
        {kVideoAny, "nopanscan", 0, 0, 0, 0, 0, 2},
    };
    for (const Case& c : cases) {
        VobGroup g;
        EXPECT_EQ(set_video_attr(&g, c.category, c.word), 0) << c.word;
        EXPECT_EQ(g.video.resolution, c.resolution) << c.word;
        EXPECT_EQ(g.video.tv_standard, c.tv_standard) << c.word;
        EXPECT_EQ(g.video.caption, c.caption) << c.word;
        EXPECT_EQ(g.video.mpeg_version, c.mpeg) << c.word;
        EXPECT_EQ(g.video.aspect, c.aspect) << c.word;
        EXPECT_EQ(g.video.widescreen, c.widescreen) << c.word;
    }
    testing::internal::CaptureStderr();
    for (auto [category, word] : std::initializer_list<std::pair<int, const char*>>{
             {kVideoAny, "PAL"}, {kVideoAny, "x"}, {kVideoAny, "abcx480"}, {kVideoAny, "720x4-8"},
             {kVideoResolution, "pal"}, {kVideoTvStandard, "720x576"}, {kVideoAny, ""}}) {
        VobGroup g;
        EXPECT_THROW(set_video_attr(&g, category, word), FatalError) << word;
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERR:  Cannot parse video option 'PAL'\n"),
              std::string::npos);
}

TEST(Attributes, FrameRateFromDetection) {
    VobGroup g;
    EXPECT_EQ(captured([&] { set_video_frame_rate(&g, 3); }), "");
    EXPECT_EQ(g.video.frame_rate, 3);
    VobGroup film;
    EXPECT_EQ(captured([&] { set_video_frame_rate(&film, 1); }),
              "WARN: not a valid DVD frame rate: 24000.0/1001.0 (NTSC 3:2 pulldown converted FILM)\n");
    EXPECT_EQ(film.video.frame_rate, 1);
    for (int reserved : {0, 9, 15}) {
        VobGroup r;
        EXPECT_NE(captured([&] { set_video_frame_rate(&r, reserved); }).find("reserved frame rate"),
                  std::string::npos);
        EXPECT_EQ(r.video.frame_rate, 0) << reserved;
    }
}

TEST(Attributes, AudioWords) {
    AudioAttr a, w;
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "ac3"), 0);
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "6ch"), 0);
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "drc"), 0);
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "surround"), 0);
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "96khz"), 0);
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "EN"), 0);
    EXPECT_EQ(std::string(a.language, 2), "en");
    EXPECT_EQ(a.language_flag, 2);
    EXPECT_EQ(a.format, 1);
    EXPECT_EQ(a.channels, 6);
    EXPECT_EQ(a.quantisation, 4);
    EXPECT_EQ(a.surround, 1);
    EXPECT_EQ(a.sampling_rate, 2);
    // A second language is refused but its letters are taken.
    EXPECT_EQ(set_audio_attr(&a, &w, kAudioAny, "fr"), 1);
    EXPECT_EQ(std::string(a.language, 2), "fr");

    AudioAttr n, nw;
    EXPECT_EQ(set_audio_attr(&n, &nw, kAudioAny, "nolang"), 0);
    EXPECT_EQ(captured([&] { EXPECT_EQ(set_audio_attr(&n, &nw, kAudioAny, "de"), 1); }),
              "WARN: attempt to update audio language from nolang to lang; skipping\n");
    // Categories narrow what a word may set.
    AudioAttr c, cw;
    EXPECT_EQ(set_audio_attr(&c, &cw, kAudioChannels, "2ch"), 0);
    testing::internal::CaptureStderr();
    EXPECT_THROW(set_audio_attr(&c, &cw, kAudioChannels, "ac3"), FatalError);
    EXPECT_THROW(set_audio_attr(&c, &cw, kAudioFormat, "nolang"), FatalError);
    EXPECT_THROW(set_audio_attr(&c, &cw, kAudioAny, "9ch"), FatalError);
    EXPECT_THROW(set_audio_attr(&c, &cw, kAudioAny, ""), FatalError);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERR:  Cannot parse audio option '9ch'\n"),
              std::string::npos);
}

TEST(Attributes, SubpictureWords) {
    VobGroup g;
    EXPECT_EQ(set_subpicture_attr(kSubpictureAny, 2, &g, "DE"), 0);
    EXPECT_EQ(g.subpicture_track_count, 3);
    EXPECT_EQ(std::string(g.subpicture[2].language, 2), "de");
    EXPECT_EQ(set_subpicture_attr(kSubpictureLanguage, 2, &g, "fr"), 1);
    EXPECT_EQ(set_subpicture_attr(kSubpictureAny, 0, &g, "nolang"), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(set_subpicture_attr(kSubpictureAny, 0, &g, "en"), 1);
    EXPECT_EQ(g.subpicture[0].language_flag, 1);
    EXPECT_THROW(set_subpicture_attr(kSubpictureLanguage, 0, &g, "nolang"), FatalError);
    EXPECT_THROW(set_subpicture_attr(2, 0, &g, "en"), FatalError);
    EXPECT_THROW(set_subpicture_attr(kSubpictureAny, 32, &g, "en"), FatalError);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "ERR:  Cannot parse subpicture option 'nolang' on track 0\n"),
              std::string::npos);
}

// A group whose Vobs carry the given stream slots, with what detection found.
struct StreamFixture {
    VobGroup group;
    std::vector<std::unique_ptr<Vob>> vobs;
    Vob& add_vob() {
        vobs.push_back(std::make_unique<Vob>());
        group.vobs.push_back(vobs.back().get());
        return *vobs.back();
    }
    static void add_stream(Vob& vob, int slot, AudioAttr found = {}) {
        vob.streams[slot].rows.push_back({0, 3600, 0});
        vob.streams[slot].detected = found;
    }
};

TEST(Attributes, FinalizeMapsStreamsToTracks) {
    StreamFixture f;
    Vob& first = f.add_vob();
    Vob& second = f.add_vob();
    AudioAttr six;
    six.channels = 6;
    StreamFixture::add_stream(first, 0, six);  // AC-3 stream 1
    StreamFixture::add_stream(second, 1);      // AC-3 stream 2
    StreamFixture::add_stream(first, 8);       // MPEG stream 1
    StreamFixture::add_stream(second, 32 + 4); // subpicture stream 5
    f.group.video.mpeg_version = 2;
    f.group.video.resolution = 1;
    f.group.video.tv_standard = 2;
    f.group.video.aspect = 2;
    const std::string report = captured([&] { finalize_attributes(&f.group, kGroupVts); });
    ASSERT_EQ(f.group.audio_track_count, 3);
    const int expected[3][3] = {{1, 1, 6}, {2, 1, 2}, {1, 2, 6}};  // format, stream, channels
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(f.group.audio[t].format, expected[t][0]) << t;
        EXPECT_EQ(f.group.audio[t].stream_number, expected[t][1]) << t;
        EXPECT_EQ(f.group.audio[t].channels, expected[t][2]) << t;
        EXPECT_EQ(f.group.audio[t].sampling_rate, 1) << t;
    }
    EXPECT_EQ(f.group.audio[1].quantisation, 2);
    EXPECT_EQ(f.group.audio[0].quantisation, 4);
    EXPECT_EQ(f.group.subpicture_track_count, 1);
    EXPECT_EQ(f.group.subpicture[0].stream_number, 5);
    EXPECT_EQ(f.group.video.widescreen, 0);
    EXPECT_EQ(report,
              "INFO: Generating VTS with the following video attributes:\n"
              "INFO: MPEG version: mpeg2\n"
              "INFO: TV standard: pal\n"
              "INFO: Aspect ratio: 16:9\n"
              "INFO: Resolution: 720x576\n"
              "INFO: Audio ch 0 format: ac3/6ch, 48khz drc\n"
              "INFO: Audio ch 1 format: mp2/2ch, 48khz 20bps\n"
              "INFO: Audio ch 2 format: ac3/6ch, 48khz drc\n");
}

TEST(Attributes, FinalizeFillsOptionTracksFirst) {
    StreamFixture f;
    Vob& vob = f.add_vob();
    StreamFixture::add_stream(vob, 16);  // LPCM stream 1
    // Options asked for an English AC-3 track and a PCM track; the PCM stream fills the second.
    set_audio_attr(&f.group.audio[0], &f.group.audio_warned[0], kAudioAny, "ac3");
    set_audio_attr(&f.group.audio[1], &f.group.audio_warned[1], kAudioAny, "pcm");
    f.group.audio_track_count = 2;
    const std::string report = captured([&] { finalize_attributes(&f.group, kGroupVtsm); });
    EXPECT_EQ(f.group.audio_track_count, 2);
    EXPECT_EQ(f.group.audio[1].stream_number, 1);
    EXPECT_EQ(f.group.audio[1].quantisation, 1);
    EXPECT_EQ(f.group.audio[0].stream_number, 0);
    EXPECT_NE(report.find("WARN: Audio ch 0 is not used!\n"), std::string::npos);
    EXPECT_NE(report.find("Generating VTSM"), std::string::npos);
}

TEST(Attributes, FinalizeDefaultsVideo) {
    VobGroup g;
    const std::string report = captured([&] { finalize_attributes(&g, kGroupVmgm); });
    EXPECT_EQ(report,
              "WARN: video mpeg version was not autodetected\n"
              "WARN: video resolution was not autodetected\n"
              "WARN: video format was not autodetected\n"
              "WARN: aspect ratio was not autodetected\n"
              "INFO: Generating VMGM with the following video attributes:\n"
              "INFO: MPEG version: mpeg2\n"
              "INFO: TV standard: ntsc\n"
              "INFO: Aspect ratio: 4:3\n"
              "INFO: Resolution: 720x480\n");
    EXPECT_EQ(g.video.widescreen, 3);
}

TEST(Attributes, FinalizeNeverOverrunsTheTrackTables) {
    StreamFixture f;
    Vob& vob = f.add_vob();
    for (int slot = 0; slot < kStreamSlots; ++slot) StreamFixture::add_stream(vob, slot);
    const std::string report = captured([&] { finalize_attributes(&f.group, kGroupVts); });
    EXPECT_EQ(f.group.audio_track_count, kMaxAudioTracks);
    EXPECT_EQ(f.group.subpicture_track_count, kMaxSubpictureTracks);
    EXPECT_NE(report.find("WARN: No audio track left for ac3 stream 3"), std::string::npos);
}

// Titles share one set of audio tracks: VOBs whose sound differs in format or numbering are
// named, and a VOB without sound is not compared.
TEST(Attributes, VobsThatDisagreeOnTheirAudioAreNamed) {
    struct Case {
        const char* what;
        std::vector<std::vector<int>> slots;  // per Vob, its audio slots
        std::string warning;                  // empty: none
    } cases[] = {
        {"same streams", {{8}, {8}, {8}}, ""},
        {"one silent", {{}, {0}, {0}}, ""},
        {"mp2 against ac3", {{8}, {0}},
         "WARN: v1.vob carries the audio streams mp2 1, but v2.vob carries ac3 1; they share one set "
         "of audio tracks, so some track plays silent in one of them\n"},
        {"other numbering", {{}, {8}, {8, 9}, {9}},
         "WARN: v2.vob carries the audio streams mp2 1, but v3.vob carries mp2 1, mp2 2; they share "
         "one set of audio tracks, so some track plays silent in one of them\n"
         "WARN: v2.vob carries the audio streams mp2 1, but v4.vob carries mp2 2; they share one set "
         "of audio tracks, so some track plays silent in one of them\n"},
        {"pcm and dts", {{16}, {24}, {32}},
         "WARN: v1.vob carries the audio streams pcm 1, but v2.vob carries dts 1; they share one set "
         "of audio tracks, so some track plays silent in one of them\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreamFixture f;
        for (const std::vector<int>& slots : c.slots) {
            Vob& vob = f.add_vob();
            vob.file_name = "v" + std::to_string(f.vobs.size()) + ".vob";
            for (int slot : slots) StreamFixture::add_stream(vob, slot);
        }
        EXPECT_EQ(captured([&] { warn_on_audio_disagreement(f.group); }), c.warning);
    }
}

}  // namespace
