// Tests of the Radeda engine, driven directly without a host.
#include "AllocGuard.hpp"
#include "QuolvaRepeat.hpp"
#include "RepeatReference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

START_NAMESPACE_DISTRHO
extern double d_nextSampleRate;
extern uint32_t d_nextBufferSize;

// Reaches the engine's hooks and state the way the framework does.
struct QuolvaRepeatProbe
{
    static std::unique_ptr<QuolvaRepeat> make(double rate)
    {
        d_nextSampleRate = rate;
        d_nextBufferSize = 512;
        auto p = std::make_unique<QuolvaRepeat>();
        if (rate != 44100.0)
        {
            p->sampleRateChanged(rate);
            p->activate();
        }
        return p;
    }
    static void set(QuolvaRepeat& p, uint32_t i, float v) { p.setParameterValue(i, v); }
    static float get(const QuolvaRepeat& p, uint32_t i) { return p.getParameterValue(i); }
    static void run(QuolvaRepeat& p, const float* l, const float* r, float* ol, float* orr, uint32_t n)
    {
        const float* in[2] = { l, r };
        float* out[2] = { ol, orr };
        p.run(in, out, n);
    }
    static void activate(QuolvaRepeat& p) { p.activate(); }
    static void rate(QuolvaRepeat& p, double r) { p.sampleRateChanged(r); }
    static void init(QuolvaRepeat& p, uint32_t i, Parameter& param) { p.initParameter(i, param); }
    static const QuolvaRepeat& state(const QuolvaRepeat& p) { return p; }
    static double slice(const QuolvaRepeat& p) { return p.fSliceLength; }
    static double playPos(const QuolvaRepeat& p) { return p.fPlayPos; }
    static uint32_t writePos(const QuolvaRepeat& p) { return p.fWritePos; }
    static void setWritePos(QuolvaRepeat& p, uint32_t w) { p.fWritePos = w; }
    static uint32_t capacity(const QuolvaRepeat& p) { return static_cast<uint32_t>(p.fBufferL.size()); }
    static float envelope(const QuolvaRepeat& p) { return p.fEnvelope; }
    static float attackStep(const QuolvaRepeat& p) { return p.fAttackStep; }
    static float releaseStep(const QuolvaRepeat& p) { return p.fReleaseStep; }
    static int32_t latch(const QuolvaRepeat& p) { return p.fRetriggerLatch; }
    static bool wrapped(const QuolvaRepeat& p) { return p.fWrapped; }
    static uint32_t bpmInt(const QuolvaRepeat& p) { return p.fBpmInt; }
};
END_NAMESPACE_DISTRHO

using DISTRHO::QuolvaRepeat;
using Probe = DISTRHO::QuolvaRepeatProbe;
using namespace DISTRHO;

namespace {

// A stereo signal with distinct, exactly representable values per sample.
struct Signal
{
    std::vector<float> l, r;
    explicit Signal(size_t n, uint32_t seed = 1) : l(n), r(n)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(-1.0f, 1.0f);
        for (size_t i = 0; i < n; ++i) { l[i] = d(rng); r[i] = d(rng); }
    }
    // l[i] = i + 1 and r[i] = -(i + 1): the value tells which sample it was.
    static Signal ramp(size_t n)
    {
        Signal s(n);
        for (size_t i = 0; i < n; ++i) { s.l[i] = float(i + 1); s.r[i] = -float(i + 1); }
        return s;
    }
};

// Processes a whole signal in blocks, returning the output.
Signal process(QuolvaRepeat& p, const Signal& in, uint32_t block, size_t offset = 0, size_t count = SIZE_MAX)
{
    count = std::min(count, in.l.size() - offset);
    Signal out(count);
    for (size_t pos = 0; pos < count; pos += block)
    {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, count - pos));
        Probe::run(p, in.l.data() + offset + pos, in.r.data() + offset + pos, out.l.data() + pos, out.r.data() + pos, n);
    }
    return out;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

TEST(RepeatParameters, TableAndDefaults)
{
    auto p = Probe::make(44100.0);
    const char* names[] = { "Active", "BPM", "Beats", "Division", "Retrigger", "Attack", "Hold", "Release", "Varispeed", "Speed" };
    const char* symbols[] = { "active", "bpm", "beats", "division", "retrigger", "attack", "hold", "release", "varispeed", "speed" };
    const uint32_t hints[] = { 0x03, 0x05, 0x05, 0x05, 0x23, 0x01, 0x01, 0x01, 0x03, 0x09 };
    const float defaults[] = { 0, 100, 2, 4, 0, 0, 1, 1, 0, 1 };
    for (uint32_t i = 0; i < kParamCount; ++i)
    {
        Parameter param;
        Probe::init(*p, i, param);
        EXPECT_STREQ(param.name.buffer(), names[i]);
        EXPECT_STREQ(param.symbol.buffer(), symbols[i]);
        EXPECT_EQ(param.hints, hints[i]) << names[i];
        EXPECT_EQ(param.ranges.def, defaults[i]);
        EXPECT_EQ(param.ranges.min, kParamMin[i]);
        EXPECT_EQ(param.ranges.max, kParamMax[i]);
        EXPECT_EQ(Probe::get(*p, i), defaults[i]) << names[i];
    }

    // Index 10 is outside: ignored when set, 0 when read, record untouched.
    Parameter untouched;
    untouched.name = "x";
    Probe::init(*p, 10, untouched);
    EXPECT_STREQ(untouched.name.buffer(), "x");
    Probe::set(*p, 10, 5.0f);
    EXPECT_EQ(Probe::get(*p, 10), 0.0f);
}

TEST(RepeatParameters, StoredExactlyButEngineUsesSafeValues)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamBpm, 120.7f);
    EXPECT_EQ(Probe::get(*p, kParamBpm), 120.7f);
    EXPECT_EQ(Probe::bpmInt(*p), 120u);

    struct Case { uint32_t index; float value; uint32_t bpm; };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c : { Case { kParamBpm, nan, 10 }, Case { kParamBpm, -inf, 10 }, Case { kParamBpm, inf, 480 },
                           Case { kParamBpm, 1e30f, 480 }, Case { kParamBpm, 9.99f, 10 }, Case { kParamBpm, 0.0f, 10 } })
    {
        Probe::set(*p, c.index, c.value);
        EXPECT_EQ(Probe::bpmInt(*p), c.bpm) << c.value;
        const float got = Probe::get(*p, c.index);
        EXPECT_TRUE(sameBits(got, c.value)) << c.value;
        EXPECT_TRUE(std::isfinite(Probe::slice(*p)));
        EXPECT_GT(Probe::slice(*p), 0.0);
    }
}

TEST(RepeatEngine, InactivePassesInputThroughForAnyBlockSize)
{
    const Signal in(5000, 3);
    for (uint32_t block : { 1u, 2u, 17u, 64u, 1000u, 4096u })
    {
        auto p = Probe::make(44100.0);
        const Signal out = process(*p, in, block);
        for (size_t i = 0; i < in.l.size(); ++i)
        {
            ASSERT_TRUE(sameBits(out.l[i], in.l[i])) << "block " << block << " sample " << i;
            ASSERT_TRUE(sameBits(out.r[i], in.r[i])) << "block " << block << " sample " << i;
        }
    }
}

TEST(RepeatEngine, DefaultSliceRepeatsEvery13230Samples)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    EXPECT_DOUBLE_EQ(Probe::slice(*p), 13230.0);
    const Signal in(13230 * 4 + 100, 5);
    const Signal out = process(*p, in, 256);
    for (size_t i = 0; i < in.l.size(); ++i)
    {
        const size_t src = i % 13230;
        ASSERT_TRUE(sameBits(out.l[i], in.l[src])) << i;
        ASSERT_TRUE(sameBits(out.r[i], in.r[src])) << i;
    }
}

TEST(RepeatEngine, AttackRisesAfterEachWrap)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamAttack, 1.0f);
    EXPECT_FLOAT_EQ(Probe::attackStep(*p), 1.0f / 4410.0f);
    // DC input makes the output equal the gain.
    Signal in(13230 + 6000);
    std::fill(in.l.begin(), in.l.end(), 1.0f);
    std::fill(in.r.begin(), in.r.end(), 1.0f);
    const Signal out = process(*p, in, 512);
    EXPECT_EQ(out.l[13229], 1.0f);  // last sample of the first pass, old gain
    // The wrap resets the gain to 0; the first sample of the new pass already
    // carries one step.
    for (int k = 0; k < 4400; k += 97)
        EXPECT_NEAR(out.l[13230 + k], (k + 1) / 4410.0f, 1e-4f) << k;  // float accumulation
    EXPECT_EQ(out.l[13230 + 4500], 1.0f);
}

TEST(RepeatEngine, HoldAndReleaseShapeEachPass)
{
    struct Case { float hold; float fallFrom; };
    // Hold 0 behaves as 0.1.
    for (const Case c : { Case { 0.5f, 0.5f }, Case { 0.0f, 0.1f }, Case { 0.1f, 0.1f } })
    {
        auto p = Probe::make(44100.0);
        Probe::set(*p, kParamActive, 1.0f);
        Probe::set(*p, kParamHold, c.hold);
        Probe::set(*p, kParamRelease, 1.0f);
        Signal in(13230 * 2);
        std::fill(in.l.begin(), in.l.end(), 1.0f);
        std::fill(in.r.begin(), in.r.end(), 1.0f);
        const Signal out = process(*p, in, 333);
        // Second pass: sample j reads position j; once the position passes the
        // hold point the gain falls by 1/4410 per sample.
        const size_t fall = static_cast<size_t>(std::floor(double(c.fallFrom) * 13230.0));
        EXPECT_EQ(out.l[13230 + fall], 1.0f) << c.hold;
        EXPECT_LT(out.l[13230 + fall + 1], 1.0f) << c.hold;
        EXPECT_NEAR(out.l[13230 + fall + 1001], 1.0f - 1001.0f / 4410.0f, 1e-4f) << c.hold;
    }
}

TEST(RepeatEngine, VarispeedFirstPassAtUnitySpeedThenFaster)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamVarispeed, 1.0f);
    Probe::set(*p, kParamSpeed, 2.0f);
    Probe::set(*p, kParamSpeed, 2.0f);
    // Speed ramp starts from the previous block's value; settle it first with an empty block.
    Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);
    const Signal in = Signal::ramp(13230 * 2);
    const Signal out = process(*p, in, 100);
    for (size_t i = 0; i < 13230; i += 1000)
        EXPECT_EQ(out.l[i], in.l[i]) << "first pass plays as recorded";
    // Later passes: the mean of 32 reads spaced 1/16 sample apart, advancing 2 per sample.
    // Sample 10 of the second pass reads positions 20, 20+1/16, ..., 20+31/16 of the
    // ramp k+1: sixteen reads of 21 and sixteen of 22.
    EXPECT_EQ(out.l[13230 + 10], 21.5f);
    EXPECT_EQ(out.r[13230 + 10], -21.5f);
}

TEST(RepeatEngine, VarispeedBelowUnityAppliesInFirstPass)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamVarispeed, 1.0f);
    Probe::set(*p, kParamSpeed, 0.5f);
    Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);
    const Signal in = Signal::ramp(4000);
    process(*p, in, 1000);
    EXPECT_DOUBLE_EQ(Probe::playPos(*p), 2000.0);
    // Without Varispeed the speed only scales the envelope.
    auto q = Probe::make(44100.0);
    Probe::set(*q, kParamActive, 1.0f);
    Probe::set(*q, kParamSpeed, 0.5f);
    process(*q, in, 1000);
    EXPECT_DOUBLE_EQ(Probe::playPos(*q), 4000.0);
}

TEST(RepeatEngine, SpeedRampsAcrossOneBlock)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamVarispeed, 1.0f);
    Probe::set(*p, kParamSpeed, 0.5f);
    const Signal in = Signal::ramp(4000);
    process(*p, in, 1, 0, 1);
    // From 1 (the construction value) to 0.5: sample i of an N-frame block advances 1 - 0.5 i/N.
    auto q = Probe::make(44100.0);
    Probe::set(*q, kParamActive, 1.0f);
    Probe::set(*q, kParamVarispeed, 1.0f);
    Probe::set(*q, kParamSpeed, 0.5f);
    Probe::run(*q, nullptr, nullptr, nullptr, nullptr, 0);  // now 0.5 throughout
    Probe::set(*q, kParamSpeed, 0.75f);
    const uint32_t n = 400;
    const double before = Probe::playPos(*q);
    process(*q, in, n, 0, n);
    double expected = before;
    for (uint32_t i = 0; i < n; ++i)
        expected += 0.5 + 0.25 * double(i) / n;  // s below 1 plays at s in the first pass
    EXPECT_NEAR(Probe::playPos(*q), expected, 1e-6);
    // The next block uses 0.75 throughout.
    process(*q, in, n, n, n);
    EXPECT_NEAR(Probe::playPos(*q), expected + 0.75 * n, 1e-6);
}

TEST(RepeatEngine, RetriggerLatchRestartsOnFirstAndThirdValue)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    const Signal in(3000, 9);
    process(*p, in, 1000);
    EXPECT_EQ(Probe::writePos(*p), 3000u);

    const bool expectRestart[] = { true, false, true };
    for (bool restart : expectRestart)
    {
        process(*p, in, 500, 0, 500);
        const uint32_t before = Probe::writePos(*p);
        Probe::set(*p, kParamRetrigger, 1.0f);
        EXPECT_EQ(Probe::latch(*p), restart ? 1 : 0);
        EXPECT_EQ(Probe::writePos(*p), restart ? 0u : before);
    }
    // After a restart, the block in which it arrived is the start of the new slice.
    Probe::set(*p, kParamRetrigger, 0.0f);
    Probe::set(*p, kParamRetrigger, 1.0f);
    const Signal fresh(13230 + 50, 11);
    const Signal out = process(*p, fresh, 128);
    EXPECT_TRUE(sameBits(out.l[13230 + 7], fresh.l[7]));
}

TEST(RepeatEngine, SmallestSliceIsFractional)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamBpm, 480.0f);
    Probe::set(*p, kParamBeats, 1.0f);
    Probe::set(*p, kParamDivision, 16.0f);
    EXPECT_DOUBLE_EQ(Probe::slice(*p), 344.53125);
    const Signal in = Signal::ramp(2000);
    const Signal out = process(*p, in, 64);
    double pos = 0.0;
    for (size_t i = 0; i < 2000; ++i)
    {
        const size_t k = static_cast<size_t>(pos);
        ASSERT_EQ(out.l[i], in.l[k]) << i;
        pos += 1.0;
        if (pos >= 344.53125)
            pos -= 344.53125;
    }
}

TEST(RepeatEngine, RecordingStopsAtCapacity)
{
    // 1 kHz keeps the 24-second buffer small: 24,000 samples, exactly the longest slice.
    auto p = Probe::make(1000.0);
    EXPECT_EQ(Probe::capacity(*p), 24000u);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamBpm, 10.0f);
    Probe::set(*p, kParamBeats, 4.0f);
    Probe::set(*p, kParamDivision, 1.0f);
    EXPECT_DOUBLE_EQ(Probe::slice(*p), 24000.0);
    const Signal in(24000 * 2 + 500, 13);
    const Signal out = process(*p, in, 700);
    EXPECT_GE(Probe::writePos(*p), 24000u);
    for (size_t i = 24000; i < out.l.size(); i += 37)
        ASSERT_TRUE(sameBits(out.l[i], in.l[i % 24000])) << i;
}

TEST(RepeatEngine, WritePositionSaturatesInsteadOfWrapping)
{
    auto p = Probe::make(1000.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::setWritePos(*p, std::numeric_limits<uint32_t>::max() - 10);
    const Signal in(100, 2);
    process(*p, in, 100);
    EXPECT_EQ(Probe::writePos(*p), std::numeric_limits<uint32_t>::max());
}

TEST(RepeatEngine, SampleRateChangeResizesAndRescales)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamAttack, 0.5f);
    Probe::rate(*p, 96000.0);
    EXPECT_EQ(Probe::capacity(*p), 2304000u);
    EXPECT_DOUBLE_EQ(Probe::slice(*p), 28800.0);
    EXPECT_FLOAT_EQ(Probe::attackStep(*p), static_cast<float>(1.0 / (0.5f * 0.1f * 96000.0)));
    EXPECT_FLOAT_EQ(Probe::releaseStep(*p), static_cast<float>(1.0 / (0.1f * 96000.0)));
}

TEST(RepeatEngine, InPlaceEqualsOutOfPlace)
{
    const Signal in(30000, 21);
    for (float varispeed : { 0.0f, 1.0f })
    {
        auto a = Probe::make(48000.0);
        auto b = Probe::make(48000.0);
        for (auto* p : { a.get(), b.get() })
        {
            Probe::set(*p, kParamActive, 1.0f);
            Probe::set(*p, kParamBpm, 333.0f);
            Probe::set(*p, kParamVarispeed, varispeed);
            Probe::set(*p, kParamSpeed, 1.7f);
            Probe::set(*p, kParamAttack, 0.01f);
        }
        const Signal outA = process(*a, in, 250);
        Signal buf = in;
        for (size_t pos = 0; pos < buf.l.size(); pos += 250)
            Probe::run(*b, buf.l.data() + pos, buf.r.data() + pos, buf.l.data() + pos, buf.r.data() + pos, 250);
        for (size_t i = 0; i < in.l.size(); ++i)
            ASSERT_TRUE(sameBits(outA.l[i], buf.l[i]) && sameBits(outA.r[i], buf.r[i])) << i;
    }
}

// The engine's shortcuts (steady runs, lazy clearing) must not change a single bit
// against the plain algorithm, whatever happens to the parameters.
TEST(RepeatEngine, IdenticalToPlainAlgorithmUnderRandomAutomation)
{
    std::mt19937 rng(1234);
    for (int scenario = 0; scenario < 24; ++scenario)
    {
        const double rate = std::array<double, 4> { 44100.0, 48000.0, 8000.0, 1234.5678 }[scenario % 4];
        auto engine = Probe::make(rate);
        RepeatReference ref(rate);
        const Signal in(static_cast<size_t>(rate * 3), 100 + scenario);
        Signal out(in.l.size()), expect(in.l.size());
        std::uniform_int_distribution<uint32_t> blockDist(0, 700);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        size_t pos = 0;
        int blockNo = 0;
        while (pos < in.l.size())
        {
            // Change a parameter or two before some blocks.
            if (blockNo++ % 3 == 0)
            {
                const uint32_t index = rng() % kParamCount;
                float v = kParamMin[index] + unit(rng) * (kParamMax[index] - kParamMin[index]);
                if (index == kParamActive || index == kParamVarispeed || index == kParamRetrigger)
                    v = unit(rng) < 0.8f ? 1.0f : 0.0f;
                if (index == kParamActive && scenario % 2 == 0)
                    v = 1.0f;
                Probe::set(*engine, index, v);
                ref.setParameterValue(index, v);
            }
            if (blockNo == 2)
            {
                Probe::set(*engine, kParamActive, 1.0f);
                ref.setParameterValue(kParamActive, 1.0f);
            }
            if (blockNo % 50 == 0)
            {
                Probe::activate(*engine);
                ref.activate();
            }
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(blockDist(rng), in.l.size() - pos));
            Probe::run(*engine, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, n);
            ref.run(in.l.data() + pos, in.r.data() + pos, expect.l.data() + pos, expect.r.data() + pos, n);
            pos += n;
        }
        for (size_t i = 0; i < in.l.size(); ++i)
        {
            ASSERT_TRUE(sameBits(out.l[i], expect.l[i])) << "scenario " << scenario << " sample " << i << ": " << out.l[i] << " vs " << expect.l[i];
            ASSERT_TRUE(sameBits(out.r[i], expect.r[i])) << "scenario " << scenario << " sample " << i;
        }
    }
}

TEST(RepeatEngine, HostileValuesGiveFiniteOutput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float hostile[] = { nan, inf, -inf, -1.0f, 0.0f, 1e-40f, 0.5f, 1e9f, -1e9f, 3.9f };
    for (double rate : { 44100.0, 0.0, -5.0, std::numeric_limits<double>::quiet_NaN(), 1234.5678, 7.0, 1e12 })
    {
        auto p = Probe::make(44100.0);
        Probe::rate(*p, rate);
        Probe::activate(*p);
        Probe::set(*p, kParamActive, 1.0f);
        Probe::set(*p, kParamVarispeed, 1.0f);
        const Signal in(4096, 17);
        std::mt19937 rng(7);
        Signal out(in.l.size());
        for (int block = 0; block < 120; ++block)
        {
            const uint32_t index = 1 + rng() % (kParamCount - 1);
            Probe::set(*p, index, hostile[rng() % std::size(hostile)]);
            const uint32_t n = rng() % 300;
            const uint32_t at = rng() % (4096 - 300);
            Probe::run(*p, in.l.data() + at, in.r.data() + at, out.l.data(), out.r.data(), n);
            for (uint32_t i = 0; i < n; ++i)
                ASSERT_TRUE(std::isfinite(out.l[i]) && std::isfinite(out.r[i])) << "rate " << rate << " block " << block;
        }
    }
}

TEST(RepeatEngine, LongestSliceAtTopSpeedReadsZerosPastTheBuffer)
{
    // The slice fills the buffer exactly; averaged reads reach past its end.
    auto p = Probe::make(1000.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamBpm, 10.0f);
    Probe::set(*p, kParamBeats, 4.0f);
    Probe::set(*p, kParamDivision, 1.0f);
    Probe::set(*p, kParamVarispeed, 1.0f);
    Probe::set(*p, kParamSpeed, 4.0f);
    RepeatReference ref(1000.0);
    for (uint32_t i : { 0u, 1u, 2u, 3u, 8u, 9u })
        ref.setParameterValue(i, Probe::get(*p, i));
    ref.setParameterValue(kParamSpeed, 4.0f);
    const Signal in(24000 * 3, 5);
    Signal out(in.l.size()), expect(in.l.size());
    for (size_t pos = 0; pos < in.l.size(); pos += 512)
    {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(512, in.l.size() - pos));
        Probe::run(*p, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, n);
        ref.run(in.l.data() + pos, in.r.data() + pos, expect.l.data() + pos, expect.r.data() + pos, n);
    }
    for (size_t i = 0; i < in.l.size(); ++i)
        ASSERT_TRUE(sameBits(out.l[i], expect.l[i])) << i;
}

TEST(RepeatEngine, ZeroFrameBlockOnlyAdvancesTheSpeedRamp)
{
    auto p = Probe::make(44100.0);
    Probe::set(*p, kParamActive, 1.0f);
    Probe::set(*p, kParamSpeed, 3.0f);
    Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(Probe::writePos(*p), 0u);
    Probe::set(*p, kParamVarispeed, 1.0f);
    // Advances 3 per sample at once (after the first pass is done).
    const Signal in = Signal::ramp(13230 + 10);
    process(*p, in, 13230 + 10);
    EXPECT_TRUE(Probe::wrapped(*p));
}

TEST(RepeatEngine, RunAllocatesNothing)
{
    auto p = Probe::make(48000.0);
    const Signal in(48000 * 2, 8);
    Signal out(in.l.size());
    quolva::test::AllocationScope scope;
    for (float active : { 0.0f, 1.0f })
        for (float vs : { 0.0f, 1.0f })
        {
            Probe::set(*p, kParamActive, active);
            Probe::set(*p, kParamVarispeed, vs);
            Probe::set(*p, kParamSpeed, vs > 0 ? 2.0f : 1.0f);
            Probe::set(*p, kParamRetrigger, 1.0f);
            Probe::set(*p, kParamAttack, 0.3f);
            for (size_t pos = 0; pos + 512 <= in.l.size(); pos += 512)
                Probe::run(*p, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, 512);
        }
    EXPECT_EQ(scope.count(), 0u);
}

TEST(AllocationCounter, SeesAllocations)
{
    quolva::test::AllocationScope scope;
    auto v = std::make_unique<std::vector<int>>(100);
    EXPECT_GE(scope.count(), 1u);
}

// ---- Averaged read: positions formed directly, several samples side by side ----

namespace {

// Input defined for any frame index, so that long runs need no stored signal:
// 24-bit values in [-1, 1), distinct from one frame to the next.
float inputAt(uint64_t frame, uint32_t channel)
{
    uint64_t x = frame * 2 + channel + 0x9E3779B97F4A7C15ull;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return static_cast<float>(static_cast<int32_t>(x >> 40) - (1 << 23)) / static_cast<float>(1 << 23);
}

struct ParamChange
{
    uint64_t frame;  // applied before the first block starting at or after this frame
    uint32_t index;
    float value;
};

struct AveragedCase
{
    const char* name;
    double rate;
    std::vector<ParamChange> changes;  // in frame order
    std::vector<uint32_t> blocks;      // block sizes, used in turn
    uint64_t length;
};

// Runs the engine and the plain reference side by side and compares every
// output bit, and after each block the play position and the gain.
::testing::AssertionResult matchesReference(const AveragedCase& c)
{
    auto engine = Probe::make(c.rate);
    RepeatReference ref(c.rate);
    std::vector<float> inL, inR, outL, outR, refL, refR;
    size_t next = 0;
    uint64_t pos = 0;
    for (size_t b = 0; pos < c.length; ++b)
    {
        for (; next < c.changes.size() && c.changes[next].frame <= pos; ++next)
        {
            Probe::set(*engine, c.changes[next].index, c.changes[next].value);
            ref.setParameterValue(c.changes[next].index, c.changes[next].value);
        }
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(c.blocks[b % c.blocks.size()], c.length - pos));
        for (auto* v : { &inL, &inR, &outL, &outR, &refL, &refR })
            v->resize(n);
        for (uint32_t i = 0; i < n; ++i)
        {
            inL[i] = inputAt(pos + i, 0);
            inR[i] = inputAt(pos + i, 1);
        }
        Probe::run(*engine, inL.data(), inR.data(), outL.data(), outR.data(), n);
        ref.run(inL.data(), inR.data(), refL.data(), refR.data(), n);
        for (uint32_t i = 0; i < n; ++i)
            if (!sameBits(outL[i], refL[i]) || !sameBits(outR[i], refR[i]))
                return ::testing::AssertionFailure() << c.name << ": frame " << pos + i << " gives " << outL[i] << ", "
                                                     << outR[i] << " instead of " << refL[i] << ", " << refR[i];
        if (Probe::playPos(*engine) != ref.playPos || !sameBits(Probe::envelope(*engine), ref.envelope))
            return ::testing::AssertionFailure() << c.name << ": after frame " << pos + n << " position "
                                                 << Probe::playPos(*engine) << " gain " << Probe::envelope(*engine)
                                                 << " instead of " << ref.playPos << ", " << ref.envelope;
        pos += n;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(RepeatEngine, AveragedReadIdenticalToPlainAlgorithm)
{
    // Position 2^23 minus two blocks of 4096: there the spacing of doubles
    // (2^-30) still matches the finest bit of the slowest increment; above
    // 2^23 it is coarser, and each step of the read position rounds.
    constexpr uint64_t kNear2p23 = (uint64_t(1) << 23) - 8192;
    const AveragedCase cases[] = {
        // Whole-sample slice at Speed 2: every position a multiple of 1/16,
        // all steps exact, also where they cross a power of two.
        { "whole-sample slice, Speed 2", 48000.0,
          { { 0, kParamActive, 1 }, { 0, kParamVarispeed, 1 }, { 0, kParamSpeed, 2 } },
          { 256 }, 48000 },
        // Fractional slice: positions carry fine bits; steps that cross a power
        // of two round and must be taken one by one.
        { "fractional slice, Speed 1.7", 44100.0,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 333 }, { 0, kParamVarispeed, 1 }, { 0, kParamSpeed, 1.7f } },
          { 100, 37 }, 44100 },
        { "smallest slice, Speed 3.3", 1234.5678,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 480 }, { 0, kParamBeats, 1 }, { 0, kParamDivision, 16 },
            { 0, kParamVarispeed, 1 }, { 0, kParamSpeed, 3.3f } },
          { 64, 5 }, 8000 },
        // At a few hertz the slice is a fraction of a sample and the position
        // restarts with fine bits below 1 every sample: one sample's 32 reads
        // cross several powers of two, rounding at each.
        { "slice shorter than a sample", 3.7,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 480 }, { 0, kParamBeats, 1 }, { 0, kParamDivision, 16 },
            { 0, kParamVarispeed, 1 }, { 0, kParamSpeed, 4 }, { 500, kParamBeats, 3 }, { 500, kParamDivision, 7 },
            { 500, kParamSpeed, 2.3f }, { 1000, kParamBpm, 97 }, { 1000, kParamSpeed, 3.1f } },
          { 16, 3 }, 1500 },
        // Gains below 1 within a group of samples computed together.
        { "attack, hold and release", 48000.0,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 240 }, { 0, kParamAttack, 0.05f }, { 0, kParamHold, 0.3f },
            { 0, kParamRelease, 0.02f }, { 0, kParamVarispeed, 1 }, { 0, kParamSpeed, 3.3f } },
          { 64 }, 30000 },
        // Speed ramping in every block, across 1 during the first pass, so that
        // averaged and plain reads alternate within a group; blocks not a
        // multiple of the group.
        { "Speed ramps across 1", 44100.0,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 200 }, { 0, kParamVarispeed, 1 }, { 0, kParamSpeed, 0.6f },
            { 300, kParamSpeed, 1.9f }, { 600, kParamSpeed, 0.25f }, { 900, kParamSpeed, 4 },
            { 1200, kParamSpeed, 0.8f }, { 9000, kParamSpeed, 1.3f }, { 12000, kParamSpeed, 0.3f },
            { 15000, kParamSpeed, 2.7f } },
          { 1, 3, 5, 7, 250, 2 }, 20000 },
        // Playback at Speed 4 overtakes the recording after a restart, over
        // samples recorded before it: those must read as zero.
        { "reads past the recorded part", 8000.0,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 10 }, { 0, kParamBeats, 4 }, { 0, kParamDivision, 1 },
            { 16000, kParamRetrigger, 1 }, { 16000, kParamBpm, 480 }, { 16000, kParamBeats, 1 },
            { 16000, kParamDivision, 16 }, { 16000, kParamVarispeed, 1 }, { 16000, kParamSpeed, 4 },
            { 16500, kParamBpm, 10 }, { 16500, kParamBeats, 4 }, { 16500, kParamDivision, 1 },
            { 17500, kParamAttack, 0.2f } },
          { 100 }, 20000 },
        // Averaged read at slow speeds across position 2^23 (a 24 s slice at 384 kHz).
        { "positions across 2^23", 384000.0,
          { { 0, kParamActive, 1 }, { 0, kParamBpm, 10 }, { 0, kParamBeats, 4 }, { 0, kParamDivision, 1 },
            { 0, kParamVarispeed, 1 }, { kNear2p23, kParamSpeed, 0.9f }, { kNear2p23 + 12288, kParamSpeed, 0.3f },
            { kNear2p23 + 24576, kParamSpeed, 0.26f } },
          { 4096 }, kNear2p23 + 36864 },
    };
    for (const AveragedCase& c : cases)
        EXPECT_TRUE(matchesReference(c));
}
