// Tests of the Zivaz engine, driven directly without a host.
#include "AllocGuard.hpp"
#include "CrushReference.hpp"
#include "QuolvaCrush.hpp"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

START_NAMESPACE_DISTRHO
extern double d_nextSampleRate;
extern uint32_t d_nextBufferSize;

// Reaches the engine's hooks and state the way the framework does.
struct QuolvaCrushProbe
{
    static std::unique_ptr<QuolvaCrush> make()
    {
        d_nextSampleRate = 44100.0;
        d_nextBufferSize = 512;
        return std::make_unique<QuolvaCrush>();
    }
    static void set(QuolvaCrush& p, uint32_t i, float v) { p.setParameterValue(i, v); }
    static float get(const QuolvaCrush& p, uint32_t i) { return p.getParameterValue(i); }
    static void init(QuolvaCrush& p, uint32_t i, Parameter& param) { p.initParameter(i, param); }
    static void activate(QuolvaCrush& p) { p.activate(); }
    static void run(QuolvaCrush& p, const float* l, const float* r, float* ol, float* orr, uint32_t n)
    {
        const float* in[2] = { l, r };
        float* out[2] = { ol, orr };
        p.run(in, out, n);
    }
    static uint32_t noiseState(const QuolvaCrush& p) { return p.fNoiseState; }
    static void setNoiseState(QuolvaCrush& p, uint32_t s) { p.fNoiseState = s; }
    static uint32_t counter(const QuolvaCrush& p) { return p.fFrameCounter; }
    static void setCounter(QuolvaCrush& p, uint32_t c) { p.fFrameCounter = c; }
    static std::array<float, 2> held(const QuolvaCrush& p) { return { p.fHeldL, p.fHeldR }; }
    static std::array<float, 5> rampStarts(const QuolvaCrush& p)
    {
        return { p.fPrevNoiseBias, p.fPrevInputNoise, p.fPrevOutputNoise, p.fPrevDistort, p.fPrevPostClip };
    }
    static const char* label(const QuolvaCrush& p) { return p.getLabel(); }
    static const char* description(const QuolvaCrush& p) { return p.getDescription(); }
    static const char* maker(const QuolvaCrush& p) { return p.getMaker(); }
    static const char* license(const QuolvaCrush& p) { return p.getLicense(); }
    static uint32_t version(const QuolvaCrush& p) { return p.getVersion(); }
    static int64_t uniqueId(const QuolvaCrush& p) { return p.getUniqueId(); }
};
END_NAMESPACE_DISTRHO

using Probe = DISTRHO::QuolvaCrushProbe;
using namespace DISTRHO;

static_assert(DISTRHO_PLUGIN_WANT_STATE == 1, "without state the host cannot save the parameters");

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Signal
{
    std::vector<float> l, r;
    explicit Signal(size_t n, uint32_t seed = 1, float amplitude = 1.0f) : l(n), r(n)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(-amplitude, amplitude);
        for (size_t i = 0; i < n; ++i) { l[i] = d(rng); r[i] = d(rng); }
    }
    static Signal constant(size_t n, float left, float right)
    {
        Signal s(n);
        std::fill(s.l.begin(), s.l.end(), left);
        std::fill(s.r.begin(), s.r.end(), right);
        return s;
    }
    size_t size() const { return l.size(); }
};

// Processes a whole signal in blocks of `block` frames.
Signal process(QuolvaCrush& p, const Signal& in, uint32_t block)
{
    Signal out(in.size());
    for (size_t pos = 0; pos < in.size(); pos += block)
    {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, in.size() - pos));
        Probe::run(p, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, n);
    }
    return out;
}

// The generator's recurrence, written out independently of the engine.
uint32_t lcg(uint32_t s) { return s * 24691u + 1103515245u; }
float unit(uint32_t s) { return static_cast<float>(s) * 0x1p-32f; }

float softClip(float x)
{
    if (x < -3.0f) return -1.0f;
    if (x > 3.0f) return 1.0f;
    return ((27.0f + x * x) * x) / (x * x * 9.0f + 27.0f);
}

// An instance with the given values set and their ramps completed.
std::unique_ptr<QuolvaCrush> settled(std::initializer_list<std::pair<uint32_t, float>> values)
{
    auto p = Probe::make();
    for (const auto& [index, value] : values)
        Probe::set(*p, index, value);
    Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);
    return p;
}

} // namespace

// ---------------------------------------------------------------------------
// Identity and parameters

TEST(CrushParameters, IdentityAndTable)
{
    auto p = Probe::make();
    EXPECT_STREQ(Probe::label(*p), "crush");
    EXPECT_STREQ(Probe::description(*p), "Sample rate reduction");
    EXPECT_STREQ(Probe::maker(*p), "Quolvan Contributors");
    EXPECT_STREQ(Probe::license(*p), "ISC");
    EXPECT_EQ(Probe::version(*p), 0x10000u);
    EXPECT_EQ(Probe::uniqueId(*p), ('q' << 24) | ('C' << 16) | ('r' << 8) | 's');

    struct Row { const char* name; const char* symbol; uint32_t hints; float min, max, def; };
    const Row rows[kParamCount] = {
        { "Downsample", "downsample", 0x05, 1, 16, 1 },
        { "Noise Bias", "noisebias", 0x01, 0, 1, 0.5f },
        { "Input Noise", "prenoise", 0x01, 0, 1, 0 },
        { "Output Noise", "postnoise", 0x01, 0, 1, 0 },
        { "Distort", "distort", 0x01, 0, 1, 0 },
        { "Post Clip", "postclip", 0x01, 0, 1, 0 },
    };
    for (uint32_t i = 0; i < kParamCount; ++i)
    {
        Parameter param;
        Probe::init(*p, i, param);
        EXPECT_STREQ(param.name.buffer(), rows[i].name);
        EXPECT_STREQ(param.symbol.buffer(), rows[i].symbol);
        EXPECT_EQ(param.hints, rows[i].hints) << rows[i].name;
        EXPECT_EQ(param.ranges.min, rows[i].min) << rows[i].name;
        EXPECT_EQ(param.ranges.max, rows[i].max) << rows[i].name;
        EXPECT_EQ(param.ranges.def, rows[i].def) << rows[i].name;
        EXPECT_STREQ(param.unit.buffer(), "") << rows[i].name;
        EXPECT_EQ(Probe::get(*p, i), rows[i].def) << "fresh instance, " << rows[i].name;
    }

    // Index 6 is outside: the record stays untouched, a set changes nothing, a get answers 0.
    Parameter untouched;
    untouched.name = "x";
    untouched.hints = 0x40;
    Probe::init(*p, kParamCount, untouched);
    EXPECT_STREQ(untouched.name.buffer(), "x");
    EXPECT_EQ(untouched.hints, 0x40u);
    Probe::set(*p, kParamCount, 7.0f);
    EXPECT_EQ(Probe::get(*p, kParamCount), 0.0f);
    for (uint32_t i = 0; i < kParamCount; ++i)
        EXPECT_EQ(Probe::get(*p, i), rows[i].def);
}

TEST(CrushParameters, ValuesAreStoredExactlyAsSet)
{
    auto p = Probe::make();
    const float payloadNaN = [] { uint32_t b = 0x7fc01234u; float f; std::memcpy(&f, &b, 4); return f; }();
    const float values[] = { 2.7f, 1.5f, -3.0f, 0.0f, -0.0f, 1e20f, kInf, -kInf, payloadNaN, 1e-40f };
    for (uint32_t i = 0; i < kParamCount; ++i)
        for (float v : values)
        {
            Probe::set(*p, i, v);
            // Reading back never clamps, rounds or cleans up, also not after a block.
            Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);
            EXPECT_TRUE(sameBits(Probe::get(*p, i), v)) << "index " << i << " value " << v;
        }
}

// ---------------------------------------------------------------------------
// Signal path

TEST(CrushEngine, DefaultsPassInputThroughExactly)
{
    Signal in(3000, 4);
    in.l[5] = 0.0f; in.r[6] = 1.0f; in.l[7] = -1.0f; in.r[8] = 1e-30f; in.l[9] = 1e-40f; in.r[10] = 1000.0f;
    for (uint32_t block : { 1u, 7u, 64u, 3000u })
    {
        auto p = Probe::make();
        const Signal out = process(*p, in, block);
        for (size_t i = 0; i < in.size(); ++i)
        {
            ASSERT_TRUE(sameBits(out.l[i], in.l[i])) << "block " << block << " frame " << i;
            ASSERT_TRUE(sameBits(out.r[i], in.r[i])) << "block " << block << " frame " << i;
        }
    }
}

TEST(CrushEngine, SilenceStaysSilentForAnySettings)
{
    const Signal in = Signal::constant(97, 0.0f, 0.0f);
    const float downsample[] = { 1, 2, 3.5f, 16, 0, 1e20f, kNaN };
    const float amounts[] = { 0, 0.3f, 1, -2, 7.5f, 1e6f, kNaN, -kInf };
    std::mt19937 rng(5);
    for (int run = 0; run < 200; ++run)
    {
        auto p = Probe::make();
        Probe::set(*p, kParamDownsample, downsample[rng() % std::size(downsample)]);
        for (uint32_t i = 1; i < kParamCount; ++i)
            Probe::set(*p, i, amounts[rng() % std::size(amounts)]);
        const Signal out = process(*p, in, 1 + rng() % 40);
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_TRUE(out.l[i] == 0.0f && out.r[i] == 0.0f) << "run " << run << " frame " << i;
    }
}

// Output = held input (all other stages off): frame with count c shows the
// input of the last capture frame.
TEST(CrushEngine, HoldPatternFollowsTheFrameCounterAcrossBlocks)
{
    struct Case { float downsample; uint32_t block; uint32_t n; };
    const Case cases[] = { { 4, 10, 4 }, { 4.9f, 10, 4 }, { 3, 7, 3 }, { 16, 5, 16 }, { 1, 10, 1 }, { 2, 1, 2 } };
    for (const Case& c : cases)
    {
        auto p = Probe::make();
        // Frames before the activation must not shift the pattern.
        Probe::set(*p, kParamDownsample, c.downsample);
        process(*p, Signal(5, 9), 5);
        Probe::activate(*p);
        EXPECT_EQ(Probe::counter(*p), 0u);

        const Signal in(60, 11);
        const Signal out = process(*p, in, c.block);
        for (size_t i = 0; i < in.size(); ++i)
        {
            const size_t captured = i - i % c.n;
            ASSERT_TRUE(sameBits(out.l[i], in.l[captured])) << "Downsample " << c.downsample << " block " << c.block << " frame " << i;
            ASSERT_TRUE(sameBits(out.r[i], in.r[captured])) << "Downsample " << c.downsample << " block " << c.block << " frame " << i;
        }
    }
}

TEST(CrushEngine, DownsampleChangeKeepsThePhaseOfTheCounter)
{
    auto p = settled({ { kParamDownsample, 4 } });
    const Signal first(6, 1);
    process(*p, first, 6);  // counts 0..5, last capture at 4
    Probe::set(*p, kParamDownsample, 5);
    const Signal in(12, 3);
    const Signal out = process(*p, in, 12);  // counts 6..17: captures at 10 and 15
    for (size_t i = 0; i < 12; ++i)
    {
        const float expected = i < 4 ? first.l[4] : i < 9 ? in.l[4] : in.l[9];
        EXPECT_TRUE(sameBits(out.l[i], expected)) << i;
    }
}

TEST(CrushEngine, WorkedValuesOfDistortAndPostClip)
{
    struct Case { uint32_t index; float amount; float x; float expected; };
    const float clipHalf = 13.625f / 29.25f;  // softClip(0.5) as single-precision arithmetic gives it
    const Case cases[] = {
        { kParamDistort, 1.0f, 0.5f, 2.0f * clipHalf },
        { kParamDistort, 1.0f, 4.0f, 2.0f },
        { kParamDistort, 1.0f, -4.0f, -2.0f },
        { kParamDistort, 1.0f, 3.0f, 2.0f },   // the formula itself gives 1 at 3
        { kParamDistort, 0.5f, 4.0f, 3.0f },   // 0.5 * 4 + 1 * 1
        { kParamDistort, 1.5f, 4.0f, 1.0f },   // -0.5 * 4 + 3 * 1
        { kParamPostClip, 1.0f, 4.0f, 1.0f },
        { kParamPostClip, 1.0f, -4.0f, -1.0f },
        { kParamPostClip, 1.0f, 1.0f, 28.0f / 36.0f },
        { kParamPostClip, 0.5f, 1.0f, 0.5f + 0.5f * (28.0f / 36.0f) },
    };
    EXPECT_NEAR(2.0f * clipHalf, 0.931624f, 1e-6f);
    for (const Case& c : cases)
    {
        auto p = settled({ { c.index, c.amount } });
        const Signal in = Signal::constant(3, c.x, -c.x);
        const Signal out = process(*p, in, 3);
        for (size_t i = 0; i < 3; ++i)
        {
            EXPECT_EQ(out.l[i], c.expected) << "index " << c.index << " amount " << c.amount << " x " << c.x;
            EXPECT_EQ(out.r[i], -c.expected) << "index " << c.index << " amount " << c.amount << " x " << c.x;
        }
    }
}

// A change between blocks ramps linearly across the next block, from the old
// value at frame 0; the block after uses the new value throughout.
TEST(CrushEngine, RampsRunAcrossOneBlock)
{
    struct Case { uint32_t index; float from, to; };
    const Case cases[] = {
        { kParamDistort, 0.0f, 1.0f },
        { kParamDistort, 1.0f, 0.2f },
        { kParamPostClip, 0.0f, 1.0f },
        { kParamPostClip, 0.7f, -0.5f },
    };
    const float x = 2.5f;
    for (const Case& c : cases)
    {
        auto p = settled({ { c.index, c.from } });
        Probe::set(*p, c.index, c.to);
        const Signal in = Signal::constant(8, x, x);
        const Signal out = process(*p, in, 4);
        for (uint32_t i = 0; i < 8; ++i)
        {
            const float v = i < 4 ? c.from + (c.to - c.from) * (static_cast<float>(i) / 4.0f) : c.to;
            const float expected = c.index == kParamDistort ? (1.0f - v) * x + 2.0f * v * softClip(x)
                                                            : (1.0f - v) * x + v * softClip(x);
            EXPECT_TRUE(sameBits(out.l[i], expected)) << "index " << c.index << " frame " << i << ": " << out.l[i] << " vs " << expected;
        }
    }

    // The worked example: D = 0, 0.25, 0.5, 0.75, then 1.
    auto p = settled({});
    Probe::set(*p, kParamDistort, 1.0f);
    const Signal out = process(*p, Signal::constant(8, 0.5f, 0.5f), 4);
    const float d[] = { 0, 0.25f, 0.5f, 0.75f, 1, 1, 1, 1 };
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out.l[i], (1.0f - d[i]) * 0.5f + 2.0f * d[i] * softClip(0.5f)) << i;
}

TEST(CrushEngine, NoiseBiasRampIsSubtractedPiecewise)
{
    // Output Noise 1 settled; Noise Bias ramps 0.5 -> 0 across 5 frames.
    auto p = settled({ { kParamOutputNoise, 1.0f } });
    Probe::set(*p, kParamNoiseBias, 0.0f);
    uint32_t s = Probe::noiseState(*p);
    const float x = 0.75f;
    const Signal out = process(*p, Signal::constant(5, x, x), 5);
    for (uint32_t i = 0; i < 5; ++i)
    {
        const uint32_t s1 = lcg(s), s2 = lcg(s1), s3 = lcg(s2), s4 = lcg(s3);
        s = s4;
        const float t = static_cast<float>(i) / 5.0f;
        const float rbL = (unit(s3) - 0.5f) - (0.0f - 0.5f) * t;
        const float rbR = (unit(s4) - 0.5f) - (0.0f - 0.5f) * t;
        EXPECT_TRUE(sameBits(out.l[i], 1.0f * (x + rbL * (x * x)) + 0.0f * x)) << i;
        EXPECT_TRUE(sameBits(out.r[i], 1.0f * (x + rbR * (x * x)) + 0.0f * x)) << i;
    }
}

// ---------------------------------------------------------------------------
// Noise generator

TEST(CrushNoise, FirstStatesFromSeedOne)
{
    auto p = Probe::make();
    EXPECT_EQ(Probe::noiseState(*p), 1u);
    // Input Noise 1 at once (the construction ramp starts equal the defaults, so settle first).
    auto q = settled({ { kParamInputNoise, 1.0f } });
    EXPECT_EQ(Probe::noiseState(*q), 1u);
    const float x = 0.5f;
    const Signal out = process(*q, Signal::constant(1, x, x), 1);
    const float r1 = static_cast<float>(1103539936u) * 0x1p-32f;
    const float r2 = static_cast<float>(1335549197u) * 0x1p-32f;
    EXPECT_NEAR(r1, 0.256938f, 1e-6f);
    EXPECT_NEAR(r2, 0.310957f, 1e-6f);
    EXPECT_EQ(out.l[0], x + (r1 - 0.5f) * 0.25f);
    EXPECT_EQ(out.r[0], x + (r2 - 0.5f) * 0.25f);
    EXPECT_EQ(Probe::noiseState(*q), lcg(lcg(1335549197u)));
    EXPECT_EQ(lcg(1u), 1103539936u);
    EXPECT_EQ(lcg(1103539936u), 1335549197u);
}

// Which of a frame's numbers feed which stage: capture frames draw left and
// right input noise, then left and right output noise; hold frames draw only
// the two output numbers, and the input noise stays frozen in the held sample.
TEST(CrushNoise, DrawOrderWithinFrames)
{
    struct Case { float inputNoise, outputNoise; };
    for (const Case c : { Case { 1, 0 }, Case { 0, 1 }, Case { 1, 1 }, Case { 0.5f, 0.25f } })
    {
        auto p = settled({ { kParamDownsample, 3 }, { kParamInputNoise, c.inputNoise }, { kParamOutputNoise, c.outputNoise } });
        const Signal in = Signal::constant(4, 0.5f, -0.25f);
        const Signal out = process(*p, in, 4);

        uint32_t s = 1;
        const auto draw = [&s] { s = lcg(s); return unit(s); };
        const auto noise = [](float x, float amount, float r) {
            return amount * (x + (r - 0.5f) * (x * x)) + (1.0f - amount) * x;
        };
        float heldL = 0, heldR = 0;
        for (uint32_t i = 0; i < 4; ++i)
        {
            if (i % 3 == 0)
            {
                heldL = noise(in.l[i], c.inputNoise, draw());
                heldR = noise(in.r[i], c.inputNoise, draw());
            }
            const float expectL = noise(heldL, c.outputNoise, draw());
            const float expectR = noise(heldR, c.outputNoise, draw());
            EXPECT_TRUE(sameBits(out.l[i], expectL)) << "in " << c.inputNoise << " out " << c.outputNoise << " frame " << i;
            EXPECT_TRUE(sameBits(out.r[i], expectR)) << "in " << c.inputNoise << " out " << c.outputNoise << " frame " << i;
        }
        // Four numbers on each of the two capture frames, two on each of the two hold frames.
        EXPECT_EQ(Probe::noiseState(*p), s);
        uint32_t twelve = 1;
        for (int k = 0; k < 12; ++k)
            twelve = lcg(twelve);
        EXPECT_EQ(s, twelve);
    }
}

TEST(CrushNoise, StateNearTopGivesExactlyOne)
{
    // Start from the state whose third successor is 2^32 - 1: the left output
    // noise of the next capture frame then draws exactly 1.
    auto p = settled({ { kParamOutputNoise, 1.0f } });
    uint32_t inv = 24691u;  // inverse of the multiplier modulo 2^32, by Newton's iteration
    for (int k = 0; k < 5; ++k)
        inv *= 2u - 24691u * inv;
    ASSERT_EQ(inv * 24691u, 1u);
    const auto back = [inv](uint32_t s) { return (s - 1103515245u) * inv; };
    const uint32_t start = back(back(back(0xFFFFFFFFu)));
    Probe::setNoiseState(*p, start);
    const Signal out = process(*p, Signal::constant(1, 0.5f, 0.5f), 1);
    EXPECT_EQ(unit(0xFFFFFFFFu), 1.0f);
    EXPECT_EQ(out.l[0], 0.5f + 0.5f * 0.25f);
}

TEST(CrushNoise, InstancesAgreeAndActivationDoesNotRepeatTheNoise)
{
    const Signal in(700, 21);
    const auto configure = [](QuolvaCrush& p) {
        Probe::set(p, kParamDownsample, 3);
        Probe::set(p, kParamInputNoise, 0.6f);
        Probe::set(p, kParamOutputNoise, 0.9f);
        Probe::set(p, kParamNoiseBias, 0.3f);
    };
    auto a = Probe::make();
    auto b = Probe::make();
    configure(*a);
    configure(*b);
    const Signal outA = process(*a, in, 64);
    const Signal outB = process(*b, in, 64);
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_TRUE(sameBits(outA.l[i], outB.l[i]) && sameBits(outA.r[i], outB.r[i])) << i;

    // The same input again after an activation: same hold pattern, new noise.
    Probe::activate(*a);
    const Signal again = process(*a, in, 64);
    size_t differing = 0;
    for (size_t i = 0; i < in.size(); ++i)
        differing += (again.l[i] != outA.l[i]) + (again.r[i] != outA.r[i]);
    EXPECT_GT(differing, in.size());  // nearly every sample differs
}

// ---------------------------------------------------------------------------
// Lifecycle

TEST(CrushEngine, ActivateResetsCounterHeldSamplesAndRamps)
{
    auto p = settled({ { kParamDownsample, 5 } });
    process(*p, Signal(13, 2), 13);
    Probe::set(*p, kParamDistort, 0.8f);
    Probe::set(*p, kParamNoiseBias, kNaN);
    const uint32_t noise = Probe::noiseState(*p);
    Probe::activate(*p);
    EXPECT_EQ(Probe::counter(*p), 0u);
    EXPECT_EQ(Probe::held(*p)[0], 0.0f);
    EXPECT_EQ(Probe::held(*p)[1], 0.0f);
    EXPECT_EQ(Probe::noiseState(*p), noise);
    const auto starts = Probe::rampStarts(*p);
    EXPECT_EQ(starts[0], 0.5f);  // a NaN Noise Bias ramps as its default
    EXPECT_EQ(starts[3], 0.8f);
}

TEST(CrushEngine, ZeroFrameBlockOnlyEndsTheRamps)
{
    const Signal first(5, 1);
    auto p = settled({ { kParamDownsample, 3 }, { kParamOutputNoise, 1.0f } });
    process(*p, first, 5);
    const uint32_t noise = Probe::noiseState(*p), counter = Probe::counter(*p);
    const auto held = Probe::held(*p);
    Probe::set(*p, kParamPostClip, 1.0f);

    // Buffers that must stay untouched.
    Signal in = Signal::constant(4, 0.25f, 0.25f), out = Signal::constant(4, 9.0f, 9.0f);
    Probe::run(*p, in.l.data(), in.r.data(), out.l.data(), out.r.data(), 0);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(out.l[i] == 9.0f && out.r[i] == 9.0f && in.l[i] == 0.25f);
    EXPECT_EQ(Probe::noiseState(*p), noise);
    EXPECT_EQ(Probe::counter(*p), counter);
    EXPECT_TRUE(sameBits(Probe::held(*p)[0], held[0]) && sameBits(Probe::held(*p)[1], held[1]));
    EXPECT_EQ(Probe::rampStarts(*p)[4], 1.0f);

    // The next block applies Post Clip 1 from its first frame, exactly like an
    // instance that had it all along (Post Clip changes nothing held or drawn).
    auto q = settled({ { kParamDownsample, 3 }, { kParamOutputNoise, 1.0f }, { kParamPostClip, 1.0f } });
    process(*q, first, 5);
    const Signal next(6, 8);
    const Signal a = process(*p, next, 6), b = process(*q, next, 6);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_TRUE(sameBits(a.l[i], b.l[i]) && sameBits(a.r[i], b.r[i])) << i;
    // Frame 0 (count 5) is a hold frame: the held sample, fully clipped, with
    // the first number drawn as its left output noise.
    const float c = softClip(held[0]);
    EXPECT_TRUE(sameBits(a.l[0], 1.0f * (c + (unit(lcg(noise)) - 0.5f) * (c * c)) + 0.0f * c));
}

// The counter wraps at 2^32 and its 0 is a capture frame, so the hold before
// it is shorter than N when N is not a power of two.
TEST(CrushEngine, CounterWrapIsACaptureFrame)
{
    struct Case { float downsample; uint32_t n; uint32_t start; };
    const Case cases[] = {
        { 3, 3, 4294967291u },          // captures at 2^32-4, 2^32-1, 0 (after one frame), 3
        { 5, 5, 4294967290u },
        { 7, 7, 4294967293u },          // a block starting after the last multiple of 7: the wrap captures after 3
        { 4, 4, 4294967290u },          // a power of two divides 2^32: nothing changes
        { 1e20f, 4294967295u, 4294967290u },  // the longest hold: captures at 2^32-1 and 0
        { kInf, 4294967295u, 4294967293u },
    };
    for (const Case& c : cases)
    {
        auto p = settled({ { kParamDownsample, c.downsample } });
        Probe::setCounter(*p, c.start);
        const Signal in(20, 31);
        const Signal out = process(*p, in, 6);
        // The last capture before the first frame, if any, left held 0 (fresh instance).
        float heldL = 0.0f;
        for (uint32_t i = 0; i < in.size(); ++i)
        {
            const uint32_t count = c.start + i;  // wraps
            if (count % c.n == 0)
                heldL = in.l[i];
            ASSERT_TRUE(sameBits(out.l[i], heldL)) << "Downsample " << c.downsample << " frame " << i << " count " << count;
        }
        EXPECT_EQ(Probe::counter(*p), c.start + 20u);
    }
}

// ---------------------------------------------------------------------------
// Hostile parameter values

TEST(CrushHostile, DownsampleOutsideTheRangeStaysDefined)
{
    // Below 1 or NaN: every frame captures. Too large for a 32-bit count: the
    // longest hold (its exact length is checked at the counter's wrap).
    const Signal in(50, 17);
    struct Case { float downsample; float equivalent; };
    const Case cases[] = {
        { 0.0f, 1 }, { -3.0f, 1 }, { kNaN, 1 }, { -kInf, 1 }, { 0.99f, 1 }, { 1e-40f, 1 },
        { 1e20f, 1000 }, { kInf, 1000 }, { 4294967296.0f, 1000 },
    };
    for (const Case& c : cases)
    {
        auto p = settled({ { kParamDownsample, c.downsample }, { kParamOutputNoise, 0.5f } });
        auto q = settled({ { kParamDownsample, c.equivalent }, { kParamOutputNoise, 0.5f } });
        const Signal a = process(*p, in, 16), b = process(*q, in, 16);
        for (size_t i = 0; i < in.size(); ++i)
        {
            ASSERT_TRUE(std::isfinite(a.l[i]) && std::isfinite(a.r[i])) << c.downsample;
            ASSERT_TRUE(sameBits(a.l[i], b.l[i]) && sameBits(a.r[i], b.r[i])) << c.downsample << " frame " << i;
        }
    }
}

TEST(CrushHostile, NonFiniteAmountsActAsDefaultsAndOutputStaysFinite)
{
    const Signal in(400, 23);
    const float moderate[kParamCount] = { 3, 0.4f, 0.6f, 0.7f, 0.8f, 0.5f };
    const float hostile[] = { kNaN, kInf, -kInf, -1e6f, 1e6f, -3.0f, 1e-40f };
    for (uint32_t index = 0; index < kParamCount; ++index)
        for (float v : hostile)
        {
            auto p = Probe::make();
            for (uint32_t i = 0; i < kParamCount; ++i)
                Probe::set(*p, i, moderate[i]);
            const Signal warm = process(*p, in, 100);
            Probe::set(*p, index, v);
            const Signal out = process(*p, in, 100);
            for (size_t i = 0; i < in.size(); ++i)
                ASSERT_TRUE(std::isfinite(out.l[i]) && std::isfinite(out.r[i]))
                    << "index " << index << " value " << v << " frame " << i;
            EXPECT_TRUE(sameBits(Probe::get(*p, index), v));

            // A non-finite amount gives the same output as its default.
            if (index != kParamDownsample && !std::isfinite(v))
            {
                auto q = Probe::make();
                for (uint32_t i = 0; i < kParamCount; ++i)
                    Probe::set(*q, i, moderate[i]);
                process(*q, in, 100);
                Probe::set(*q, index, kParamDefault[index]);
                const Signal expect = process(*q, in, 100);
                for (size_t i = 0; i < in.size(); ++i)
                    ASSERT_TRUE(sameBits(out.l[i], expect.l[i]) && sameBits(out.r[i], expect.r[i]))
                        << "index " << index << " value " << v << " frame " << i;
            }
        }
}

// ---------------------------------------------------------------------------
// The engine against the plain frame-by-frame transcription

namespace {

void setBoth(QuolvaCrush& p, CrushReference& ref, uint32_t index, float value)
{
    Probe::set(p, index, value);
    ref.setParameterValue(index, value);
}

} // namespace

// Block splitting, hold runs, cached clipping and the parallel generator steps
// must not change a single output bit, whatever the automation does.
TEST(CrushReferenceEquality, RandomAutomation)
{
    std::mt19937 rng(4321);
    std::uniform_real_distribution<float> unitDist(0.0f, 1.0f);
    const float odd[] = { kNaN, kInf, -kInf, -0.5f, 1.7f, 0.0f, -0.0f, 1e-40f, 25.0f };
    for (int scenario = 0; scenario < 40; ++scenario)
    {
        auto engine = Probe::make();
        CrushReference ref;
        // Some scenarios use tiny, huge or special input samples.
        Signal in(6000, 200 + scenario, scenario % 5 == 1 ? 1e-39f : scenario % 5 == 2 ? 6.0f : 1.0f);
        if (scenario % 5 == 3)
            for (size_t i = 0; i < in.size(); i += 97)
                in.l[i] = odd[(i / 97) % std::size(odd)];
        if (scenario == 7)
        {
            Probe::activate(*engine);
            Probe::setCounter(*engine, 4294967295u - 2500u);
            ref.frameCounter = 4294967295u - 2500u;
        }
        const bool inPlace = scenario % 2 == 1;
        Signal out(in.size()), expect(in.size());
        if (inPlace)
            out = in;

        size_t pos = 0;
        int blockNo = 0;
        while (pos < in.size())
        {
            // Change one or more parameters before some blocks.
            const int changes = blockNo % 3 == 0 ? 1 + rng() % 4 : 0;
            for (int k = 0; k < changes; ++k)
            {
                const uint32_t index = rng() % kParamCount;
                float v = index == kParamDownsample ? 1.0f + unitDist(rng) * 20.0f : unitDist(rng);
                if (rng() % 8 == 0)
                    v = odd[rng() % std::size(odd)];
                setBoth(*engine, ref, index, v);
            }
            if (++blockNo % 17 == 0)
            {
                Probe::activate(*engine);
                ref.activate();
            }
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(rng() % 300, in.size() - pos));
            if (inPlace)
                Probe::run(*engine, out.l.data() + pos, out.r.data() + pos, out.l.data() + pos, out.r.data() + pos, n);
            else
                Probe::run(*engine, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, n);
            ref.run(in.l.data() + pos, in.r.data() + pos, expect.l.data() + pos, expect.r.data() + pos, n);
            pos += n;
        }
        for (size_t i = 0; i < in.size(); ++i)
        {
            ASSERT_TRUE(sameBits(out.l[i], expect.l[i])) << "scenario " << scenario << " frame " << i << ": " << out.l[i] << " vs " << expect.l[i];
            ASSERT_TRUE(sameBits(out.r[i], expect.r[i])) << "scenario " << scenario << " frame " << i << ": " << out.r[i] << " vs " << expect.r[i];
        }
        EXPECT_EQ(Probe::noiseState(*engine), ref.noiseState);
        EXPECT_EQ(Probe::counter(*engine), ref.frameCounter);
    }
}

// Subnormal and nearly subnormal samples take exact shortcuts past the slow
// arithmetic; the output must stay the plain computation's, bit for bit,
// including zeros and their signs, for settings inside and outside the ranges.
TEST(CrushReferenceEquality, TinyAndSubnormalInput)
{
    const auto fromBits = [](uint32_t b) { float f; std::memcpy(&f, &b, sizeof f); return f; };
    std::mt19937 rng(77);
    using Maker = std::function<float(size_t)>;
    struct SignalKind { const char* name; Maker sample; };
    const SignalKind signals[] = {
        { "any subnormal", [&](size_t) { return fromBits((rng() & 0x807FFFFFu) | 1u); } },
        { "smallest subnormals", [&](size_t) { return fromBits((rng() & 0x80000007u)); } },
        { "largest subnormals", [&](size_t) { return fromBits((rng() & 0x80000FFFu) | 0x007FF000u); } },
        { "just above subnormal", [&](size_t) { return fromBits((rng() & 0x81FFFFFFu)); } },
        { "fade out", [](size_t i) { return (i % 2 ? -1.0f : 1.0f) * 1e-18f * std::pow(0.97f, float(i % 2000)); } },
    };
    struct Setting { float values[kParamCount]; };
    const Setting settings[] = {
        { { 1, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f } },
        { { 1, 0.5f, 0, 0, 1, 1 } },
        { { 3, 0.2f, 1, 1, 0.9f, 0.1f } },
        { { 8, 0.5f, 0, 1, 0, 1 } },
        { { 2, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f } },     // halving rounds the smallest values to zero
        { { 3, 1e30f, 0, 1, 0, 0 } },                 // a huge bias makes even a tiny square count
        { { 1, 0.5f, 0, 3, 0, 0 } },                   // output noise gain 3: large subnormals leave the range
        { { 2, 0.5f, 0, 3, 0, 0 } },
        { { 3, 0.5f, 1, 0.5f, 0, 0.5f } },             // a held unit clips to zero: signed zeros
        { { 1, 0.5f, 0.25f, 0.75f, 1.9f, 0.5f } },     // Distort beyond the range
        { { 2, 0.5f, -3, 5, 0.5f, -2 } },              // amounts far outside
        { { 1, 0.5f, 0.5f, 0.5f, 0.5f, 40 } },
    };
    for (const SignalKind& kind : signals)
        for (const Setting& setting : settings)
        {
            auto engine = Probe::make();
            CrushReference ref;
            for (uint32_t i = 0; i < kParamCount; ++i)
                setBoth(*engine, ref, i, setting.values[i]);
            Signal in(4000);
            for (size_t i = 0; i < in.size(); ++i)
            {
                in.l[i] = kind.sample(i);
                in.r[i] = kind.sample(i);
            }
            Signal out(in.size()), expect(in.size());
            // Blocks of 37 and 64 frames: odd and even frame counts.
            size_t pos = 0;
            for (int block = 0; pos < in.size(); ++block)
            {
                const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block % 2 ? 64 : 37, in.size() - pos));
                Probe::run(*engine, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, n);
                ref.run(in.l.data() + pos, in.r.data() + pos, expect.l.data() + pos, expect.r.data() + pos, n);
                pos += n;
            }
            for (size_t i = 0; i < in.size(); ++i)
                ASSERT_TRUE(sameBits(out.l[i], expect.l[i]) && sameBits(out.r[i], expect.r[i]))
                    << kind.name << ", Downsample " << setting.values[0] << ", Post Clip " << setting.values[5]
                    << ", frame " << i << ": " << out.l[i] << " vs " << expect.l[i];
            EXPECT_EQ(Probe::noiseState(*engine), ref.noiseState) << kind.name;
        }
}

// A host may run its audio thread with subnormals flushed to zero or another
// rounding mode; the engine must still compute what the plain arithmetic
// computes in that mode.
TEST(CrushReferenceEquality, OtherFloatingPointModes)
{
    const auto fromBits = [](uint32_t b) { float f; std::memcpy(&f, &b, sizeof f); return f; };
    struct Mode { const char* name; unsigned bits; };
    const Mode modes[] = {
        { "flush to zero, subnormals as zero", 0x8040u },
        { "round toward zero", 0x6000u },
        { "round down", 0x2000u },
    };
    std::mt19937 rng(31);
    Signal in(3000);
    for (size_t i = 0; i < in.size(); ++i)
    {
        // Subnormal stretches, then ordinary samples.
        const bool tiny = (i / 500) % 2 == 0;
        in.l[i] = tiny ? fromBits((rng() & 0x807FFFFFu) | 1u) : std::uniform_real_distribution<float>(-1, 1)(rng);
        in.r[i] = tiny ? fromBits((rng() & 0x807FFFFFu) | 1u) : std::uniform_real_distribution<float>(-1, 1)(rng);
    }
    const unsigned saved = _mm_getcsr();
    for (const Mode& mode : modes)
        for (float downsample : { 1.0f, 3.0f })
        {
            auto engine = Probe::make();
            CrushReference ref;
            const float values[kParamCount] = { downsample, 0.4f, 0.5f, 0.6f, 0.7f, 0.5f };
            for (uint32_t i = 0; i < kParamCount; ++i)
                setBoth(*engine, ref, i, values[i]);
            Signal out(in.size()), expect(in.size());
            _mm_setcsr((saved & ~0xE040u) | mode.bits);
            for (size_t pos = 0; pos < in.size(); pos += 100)
            {
                Probe::run(*engine, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, 100);
                ref.run(in.l.data() + pos, in.r.data() + pos, expect.l.data() + pos, expect.r.data() + pos, 100);
            }
            _mm_setcsr(saved);
            for (size_t i = 0; i < in.size(); ++i)
                ASSERT_TRUE(sameBits(out.l[i], expect.l[i]) && sameBits(out.r[i], expect.r[i]))
                    << mode.name << ", Downsample " << downsample << ", frame " << i << ": " << out.l[i] << " vs " << expect.l[i];
        }
}

// ---------------------------------------------------------------------------

TEST(CrushEngine, RunAllocatesNothing)
{
    auto p = Probe::make();
    const Signal in(4096, 8);
    Signal out(in.size());
    quolva::test::AllocationScope scope;
    for (float downsample : { 1.0f, 7.0f })
        for (float amount : { 0.0f, 0.6f })
        {
            for (uint32_t i = 1; i < kParamCount; ++i)
                Probe::set(*p, i, amount);
            Probe::set(*p, kParamDownsample, downsample);
            for (size_t pos = 0; pos + 512 <= in.size(); pos += 512)
                Probe::run(*p, in.l.data() + pos, in.r.data() + pos, out.l.data() + pos, out.r.data() + pos, 512);
            Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);
        }
    EXPECT_EQ(scope.count(), 0u);
}
