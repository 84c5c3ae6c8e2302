#include <cmath>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "quolva/audio_file.h"

#include "fake_fixture.h"

namespace quolva::host::test {
namespace {

std::string fileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

AudioBuffer edgeValues()
{
    AudioBuffer b;
    b.sampleRate = 44100.0;
    b.left = {0.0f, 1.0f, -1.0f, 0.5f, 1e-8f, -0.25f, 0.999f};
    b.right = {0.1f, -0.1f, 0.75f, -0.75f, 0.0f, 0.3f, -0.999f};
    return b;
}

TEST(AudioFile, FloatWavRoundTripIsExact)
{
    const std::string path = scratchPath("float.wav");
    const AudioBuffer in = edgeValues();
    std::string error;
    ASSERT_TRUE(writeWavFile(path, in, SampleFormat::Float32, error)) << error;
    AudioBuffer back;
    ASSERT_TRUE(readAudioFile(path, back, error)) << error;
    EXPECT_EQ(back.sampleRate, 44100.0);
    EXPECT_EQ(back.left, in.left);
    EXPECT_EQ(back.right, in.right);
    std::remove(path.c_str());
}

TEST(AudioFile, IntegerFormatsQuantiseAndClip)
{
    struct Case {
        SampleFormat format;
        double step;
    };
    for (const Case& c : {Case{SampleFormat::Pcm24, 1.0 / 8388608.0}, Case{SampleFormat::Pcm16, 1.0 / 32768.0}}) {
        SCOPED_TRACE(c.step);
        const std::string path = scratchPath("pcm.wav");
        AudioBuffer in = edgeValues();
        in.left.push_back(1.5f); // beyond full scale: must clip, not wrap
        in.right.push_back(-3.0f);
        std::string error;
        ASSERT_TRUE(writeWavFile(path, in, c.format, error)) << error;
        AudioBuffer back;
        ASSERT_TRUE(readAudioFile(path, back, error)) << error;
        ASSERT_EQ(back.frames(), in.frames());
        for (size_t i = 0; i + 1 < in.frames(); ++i) {
            EXPECT_NEAR(back.left[i], in.left[i], c.step) << i;
            EXPECT_NEAR(back.right[i], in.right[i], c.step) << i;
        }
        EXPECT_NEAR(back.left.back(), 1.0, 2 * c.step);
        EXPECT_NEAR(back.right.back(), -1.0, 2 * c.step);
        std::remove(path.c_str());
    }
}

TEST(AudioFile, MonoIsDuplicatedAndOtherRatesAreKept)
{
    const std::string path = scratchPath("mono.wav");
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const float mono[] = {0.25f, -0.5f, 0.125f};
    ASSERT_EQ(sf_writef_float(f, mono, 3), 3);
    sf_close(f);

    AudioBuffer back;
    std::string error;
    ASSERT_TRUE(readAudioFile(path, back, error)) << error;
    EXPECT_EQ(back.sampleRate, 22050.0);
    EXPECT_EQ(back.left, std::vector<float>(std::begin(mono), std::end(mono)));
    EXPECT_EQ(back.right, back.left);
    std::remove(path.c_str());
}

// libsndfile's PEAK chunk holds a time stamp; without it equal audio gives equal files.
TEST(AudioFile, FloatFilesCarryNoPeakChunkAndRepeatByteForByte)
{
    const std::string a = scratchPath("a.wav");
    const std::string b = scratchPath("b.wav");
    std::string error;
    ASSERT_TRUE(writeWavFile(a, testSignal(1000), SampleFormat::Float32, error)) << error;
    ASSERT_TRUE(writeWavFile(b, testSignal(1000), SampleFormat::Float32, error)) << error;
    const std::string bytes = fileBytes(a);
    EXPECT_EQ(bytes.find("PEAK"), std::string::npos);
    EXPECT_EQ(bytes, fileBytes(b));
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(AudioFile, FailuresAreExplained)
{
    std::string error;
    AudioBuffer buf;
    EXPECT_FALSE(readAudioFile(scratchPath("missing.wav"), buf, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

    const std::string multi = scratchPath("quad.wav");
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 4;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(multi.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const short frame[4] = {0, 0, 0, 0};
    sf_writef_short(f, frame, 1);
    sf_close(f);
    EXPECT_FALSE(readAudioFile(multi, buf, error));
    EXPECT_NE(error.find("4 channels"), std::string::npos) << error;
    std::remove(multi.c_str());

    AudioBuffer odd = testSignal(10, 44100.5);
    EXPECT_FALSE(writeWavFile(scratchPath("odd.wav"), odd, SampleFormat::Float32, error));
    EXPECT_NE(error.find("whole-number sample rate"), std::string::npos) << error;

    SampleFormat format = SampleFormat::Float32;
    EXPECT_TRUE(parseSampleFormat("pcm24", format));
    EXPECT_EQ(format, SampleFormat::Pcm24);
    EXPECT_FALSE(parseSampleFormat("mp3", format));
}

} // namespace
} // namespace quolva::host::test
