#include <cstring>

#include <gtest/gtest.h>

#include "quolva/host.h"

#include "fake_control.h"
#include "fake_fixture.h"

namespace quolva::host::test {
namespace {

using RenderTest = FakeFixture;

bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Each change must arrive in the block that holds its frame, at that frame's
// offset inside the block.
TEST_F(RenderTest, EventsLandInTheRightBlockAtTheRightOffset)
{
    const size_t total = 1000;
    const int64_t frames[] = {0, 1, 63, 64, 100, 511, 512, 999};
    for (uint32_t blockSize : {1u, 64u, 100u, 512u, 4096u}) {
        SCOPED_TRACE("block size " + std::to_string(blockSize));
        auto i = newInstance();
        ASSERT_TRUE(i);
        std::vector<TimedParamChange> changes;
        for (size_t k = 0; k < std::size(frames); ++k)
            changes.push_back(TimedParamChange::atFrame(kFakeGainParam, 0.01 * double(k + 1), frames[k]));
        AudioBuffer out;
        std::string error;
        ASSERT_TRUE(render(*i, testSignal(total), 48000.0, blockSize, changes, out, false, &error)) << error;

        const std::vector<FakeReceived> got = receivedOf(*i);
        ASSERT_EQ(got.size(), std::size(frames));
        for (size_t k = 0; k < got.size(); ++k) {
            SCOPED_TRACE("change at frame " + std::to_string(frames[k]));
            const int64_t blockStart = frames[k] - frames[k] % blockSize;
            EXPECT_EQ(got[k].value, 0.01 * double(k + 1));
            EXPECT_EQ(got[k].steadyTime, blockStart);
            EXPECT_EQ(got[k].time, uint32_t(frames[k] - blockStart));
            EXPECT_EQ(got[k].blockFrames, uint32_t(std::min<int64_t>(blockSize, int64_t(total) - blockStart)));
        }
        EXPECT_TRUE(i->problems().empty()) << joinedForMessage(i->problems());
    }
}

TEST_F(RenderTest, TimesInSecondsAreRoundedToTheNearestFrame)
{
    struct Case {
        double rate;
        double seconds;
        int64_t frame;
    };
    const Case cases[] = {
        {44100.0, 0.25, 11025}, {48000.0, 0.0105, 504}, {44100.0, 0.00002, 1},
        {44100.0, 0.00001, 0},  {96000.0, 1.0 / 3.0, 32000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.seconds) + " s at " + std::to_string(c.rate) + " Hz");
        auto i = newInstance();
        ASSERT_TRUE(i);
        AudioBuffer out;
        ASSERT_TRUE(render(*i, testSignal(40000), c.rate, 256,
                           {TimedParamChange::atSeconds(kFakeGainParam, 0.5, c.seconds)}, out));
        const std::vector<FakeReceived> got = receivedOf(*i);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].steadyTime + got[0].time, c.frame);
    }
}

TEST_F(RenderTest, ChangesAtOneFrameKeepTheOrderGiven)
{
    const std::vector<TimedParamChange> changes = {
        TimedParamChange::atFrame(kFakeGainParam, 0.3, 50),
        TimedParamChange::atFrame(kFakeGainParam, 0.7, 50),
        TimedParamChange::atFrame(kFakeMuteParam, 1.0, 10),
        TimedParamChange::atSeconds(kFakeGainParam, 0.2, 0.0),
    };
    AudioBuffer out;
    ASSERT_TRUE(render(*inst, testSignal(100), 1000.0, 64, changes, out));
    const std::vector<FakeReceived> got = received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].value, 0.2);
    EXPECT_EQ(got[1].paramId, kFakeMuteParam);
    EXPECT_EQ(got[2].value, 0.3);
    EXPECT_EQ(got[3].value, 0.7);
    EXPECT_EQ(inst->getValue(kFakeGainParam), 0.7);
}

TEST_F(RenderTest, WholeInputIsProcessedInBlocksWithAShortLastOne)
{
    AudioBuffer out;
    ASSERT_TRUE(render(*inst, testSignal(1000), 44100.0, 300, {}, out));
    EXPECT_EQ(out.frames(), 1000u);
    EXPECT_EQ(out.right.size(), 1000u);
    EXPECT_EQ(out.sampleRate, 44100.0);
    const std::vector<FakeBlock> b = blocks();
    ASSERT_EQ(b.size(), 4u);
    const int64_t starts[] = {0, 300, 600, 900};
    const uint32_t lengths[] = {300, 300, 300, 100};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(b[k].steadyTime, starts[k]);
        EXPECT_EQ(b[k].frames, lengths[k]);
    }
    EXPECT_FALSE(inst->isActive()) << "render leaves the instance deactivated";

    // A second render starts counting steady time from the new activation.
    ASSERT_TRUE(render(*inst, testSignal(10), 44100.0, 300, {}, out));
    EXPECT_EQ(blocks().back().steadyTime, 0);
    EXPECT_EQ(out.frames(), 10u);
}

TEST_F(RenderTest, ParameterChangesShowInTheOutputAtTheirFrame)
{
    const AudioBuffer in = testSignal(300);
    AudioBuffer out;
    ASSERT_TRUE(render(*inst, in, 48000.0, 64, {TimedParamChange::atFrame(kFakeGainParam, 0.5, 130)}, out));
    for (size_t i = 0; i < in.frames(); ++i) {
        const float g = i < 130 ? 1.0f : 0.5f;
        ASSERT_EQ(out.left[i], in.left[i] * g) << "frame " << i;
        ASSERT_EQ(out.right[i], in.right[i] * g) << "frame " << i;
    }
}

TEST_F(RenderTest, InPlaceEqualsOutOfPlaceAndRenderIsDeterministic)
{
    const AudioBuffer in = testSignal(5000);
    const std::vector<TimedParamChange> changes = {
        TimedParamChange::atFrame(kFakeGainParam, 1.5, 0),
        TimedParamChange::atSeconds(kFakeMuteParam, 1.0, 0.05),
        TimedParamChange::atFrame(kFakeMuteParam, 0.0, 3001),
        TimedParamChange::atFrame(kFakeGainParam, 0.25, 4095),
    };
    AudioBuffer results[3];
    const bool inPlace[3] = {false, true, false};
    for (int k = 0; k < 3; ++k) {
        auto i = newInstance();
        ASSERT_TRUE(i);
        ASSERT_TRUE(render(*i, in, 48000.0, 128, changes, results[k], inPlace[k]));
        EXPECT_TRUE(i->problems().empty()) << joinedForMessage(i->problems());
    }
    EXPECT_TRUE(bitIdentical(results[0].left, results[1].left));
    EXPECT_TRUE(bitIdentical(results[0].right, results[1].right));
    EXPECT_TRUE(bitIdentical(results[0].left, results[2].left));
    EXPECT_TRUE(bitIdentical(results[0].right, results[2].right));
    EXPECT_EQ(results[0].left[2400], 0.0f) << "muted from 0.05 s";
    EXPECT_EQ(results[0].left[10], in.left[10] * 1.5f);
}

TEST_F(RenderTest, InPlaceRenderDoesNotTouchTheInput)
{
    const AudioBuffer in = testSignal(500);
    const AudioBuffer copy = in;
    AudioBuffer out;
    ASSERT_TRUE(render(*inst, in, 48000.0, 64, {TimedParamChange::atFrame(kFakeGainParam, 0.5, 0)}, out, true));
    EXPECT_TRUE(bitIdentical(in.left, copy.left));
    EXPECT_EQ(out.left[1], in.left[1] * 0.5f);
}

TEST_F(RenderTest, ImpossibleRendersAreRefusedBeforeProcessing)
{
    struct Case {
        const char* name;
        std::vector<TimedParamChange> changes;
        double rate;
        uint32_t block;
        const char* expected;
    };
    const Case cases[] = {
        {"change at the end", {TimedParamChange::atFrame(kFakeGainParam, 0.5, 100)}, 48000.0, 64, "beyond"},
        {"change after the end", {TimedParamChange::atSeconds(kFakeGainParam, 0.5, 1.0)}, 48000.0, 64, "beyond"},
        {"negative time", {TimedParamChange::atSeconds(kFakeGainParam, 0.5, -1.0)}, 48000.0, 64, "negative"},
        {"zero block", {}, 48000.0, 0, "block size"},
        {"zero rate", {}, 0.0, 64, "sample rate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AudioBuffer out;
        std::string error;
        EXPECT_FALSE(render(*inst, testSignal(100), c.rate, c.block, c.changes, out, false, &error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
    EXPECT_EQ(stats().processCalls, 0u);

    std::string error;
    auto uninitialised = Instance::create(*module, kFakeGainId, error);
    ASSERT_TRUE(uninitialised);
    AudioBuffer out;
    EXPECT_FALSE(render(*uninitialised, testSignal(10), 48000.0, 64, {}, out, false, &error));
    EXPECT_NE(error.find("initialised"), std::string::npos);
}

TEST_F(RenderTest, ProblemsDuringRenderAreRecordedAndTheRenderCompletes)
{
    control->setFaults(inst->plugin(), kFaultLeaveLastFrame);
    AudioBuffer out;
    ASSERT_TRUE(render(*inst, testSignal(256), 48000.0, 64, {}, out));
    EXPECT_EQ(blocks().size(), 4u);
    const std::vector<Problem> p = inst->problemDetails();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].message, "process left output samples unwritten (channel 0)");
    EXPECT_EQ(p[0].count, 4u);
}

} // namespace
} // namespace quolva::host::test
