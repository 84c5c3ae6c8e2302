#include "QuolvaCrush.hpp"

#include <algorithm>
#include <cmath>

#include <emmintrin.h>

START_NAMESPACE_DISTRHO

namespace {

constexpr uint32_t kHints[kParamCount] = {
    kParameterIsAutomatable | kParameterIsInteger,  // Downsample
    kParameterIsAutomatable,                         // Noise Bias
    kParameterIsAutomatable,                         // Input Noise
    kParameterIsAutomatable,                         // Output Noise
    kParameterIsAutomatable,                         // Distort
    kParameterIsAutomatable,                         // Post Clip
};

constexpr const char* kNames[kParamCount] = {
    "Downsample", "Noise Bias", "Input Noise", "Output Noise", "Distort", "Post Clip",
};

// Saved state keys; the two noise amounts are stored under shorter names.
constexpr const char* kSymbols[kParamCount] = {
    "downsample", "noisebias", "prenoise", "postnoise", "distort", "postclip",
};

// Noise generator: state <- state * kRandMul + kRandInc (mod 2^32).
constexpr uint32_t kRandMul = 24691u;
constexpr uint32_t kRandInc = 1103515245u;

// The state k steps ahead of s is mul * s + inc (mod 2^32). Computing the
// draws of a frame from its starting state side by side, instead of one after
// the other, gives the same states without the chain of dependent multiplies.
struct RandJump
{
    uint32_t mul, inc;
    constexpr RandJump next() const { return { mul * kRandMul, inc * kRandMul + kRandInc }; }
    constexpr uint32_t operator()(uint32_t s) const { return mul * s + inc; }
};
constexpr RandJump kJump1 { kRandMul, kRandInc };
constexpr RandJump kJump2 = kJump1.next();
constexpr RandJump kJump3 = kJump2.next();
constexpr RandJump kJump4 = kJump3.next();
constexpr RandJump kJump5 = kJump4.next();
constexpr RandJump kJump6 = kJump5.next();
constexpr RandJump kJump7 = kJump6.next();
constexpr RandJump kJump8 = kJump7.next();

// The jump over any number of steps, by repeated squaring.
inline RandJump jumpBy(uint64_t steps)
{
    RandJump result { 1u, 0u };
    RandJump base = kJump1;
    while (steps != 0)
    {
        if (steps & 1u)
            result = { base.mul * result.mul, base.mul * result.inc + base.inc };
        base = { base.mul * base.mul, base.mul * base.inc + base.inc };
        steps >>= 1;
    }
    return result;
}

// The engine computes four samples at once: a single frame as left, right,
// left, right (the copies are computed and dropped), a pair of frames i and
// i + 1 as left i, left i + 1, right i, right i + 1. Each lane does exactly
// the single-precision operations of a scalar sample.
using Vec = float __attribute__((vector_size(16)));
using UVec = uint32_t __attribute__((vector_size(16)));
using IVec = int32_t __attribute__((vector_size(16)));

inline Vec splat(float v) { return Vec { v, v, v, v }; }

// Generator states k1..k4 steps ahead of s, one per lane.
struct RandLanes
{
    UVec mul, inc;
    constexpr RandLanes(RandJump a, RandJump b, RandJump c, RandJump d)
        : mul { a.mul, b.mul, c.mul, d.mul }, inc { a.inc, b.inc, c.inc, d.inc } {}
    UVec operator()(uint32_t s) const { return mul * UVec { s, s, s, s } + inc; }
};

// Generator states as numbers in [0, 1]: each state converted to single
// precision with rounding to nearest, then scaled by 2^-32. Both 16-bit
// halves convert exactly and their sum rounds once, as the direct conversion does.
inline Vec unitFloat(UVec state)
{
    const IVec hi = reinterpret_cast<IVec>(state >> 16);
    const IVec lo = reinterpret_cast<IVec>(state & 0xFFFFu);
    return (__builtin_convertvector(hi, Vec) * 65536.0f + __builtin_convertvector(lo, Vec)) * 0x1p-32f;
}

// Rational soft clipper: slope 1 at 0, reaches +-1 at +-3 and stays there.
// The curve gives exactly +-1 at +-3, so limiting x to [-3, 3] first gives the
// same results as testing x < -3 and x > 3; limited with the constant as the
// first operand, a NaN passes through as the tests would let it.
inline Vec softClip(Vec x)
{
    const __m128 limited = _mm_min_ps(_mm_set1_ps(3.0f), _mm_max_ps(_mm_set1_ps(-3.0f), reinterpret_cast<__m128>(x)));
    const Vec y = reinterpret_cast<Vec>(limited);
    const Vec y2 = y * y;
    return ((27.0f + y2) * y) / (y2 * 9.0f + 27.0f);
}

// Everything of the five ramped parameters that a lane needs.
struct LaneParams
{
    Vec biasStart, biasStep;    // r - bias is (r - biasStart) - biasStep
    Vec inAmount, inDry;        // Input Noise and 1 - Input Noise
    Vec outAmount, outDry;      // Output Noise and 1 - Output Noise
    Vec distDry, distWet;       // 1 - Distort and 2 * Distort
    Vec clipWet, clipDry;       // Post Clip and 1 - Post Clip

    Vec bias(Vec r) const { return (r - biasStart) - biasStep; }
};

// Noise stage: noise proportional to x^2, its sign from r - bias, mixed with the dry signal.
inline Vec addNoise(Vec x, Vec amount, Vec dry, Vec rb)
{
    return amount * (x + rb * (x * x)) + dry * x;
}

// Distortion then input noise: the sample a capture frame holds.
inline Vec captureSample(Vec x, const LaneParams& p, Vec r)
{
    const Vec distorted = p.distDry * x + p.distWet * softClip(x);
    return addNoise(distorted, p.inAmount, p.inDry, p.bias(r));
}

// Post Clip of a held sample whose soft-clipped value is already known.
inline Vec postClip(Vec held, Vec clipped, const LaneParams& p)
{
    return p.clipDry * held + p.clipWet * clipped;
}

// The five ramped parameters of a block: frame i uses start + delta * (i / frames).
struct BlockRamps
{
    float start[5], delta[5];
    enum { kBias, kIn, kOut, kDist, kClip };

    void set(int k, float prev, float cur)
    {
        start[k] = prev;
        delta[k] = cur - prev;
    }

    // A parameter whose start equals its end gives the same value at every t
    // (delta is zero, so delta * t is the same zero for every frame).
    bool steady() const
    {
        for (float d : delta)
            if (d != 0.0f)
                return false;
        return true;
    }

    LaneParams at(Vec t) const
    {
        const auto ramp = [&](int k) { return splat(start[k]) + splat(delta[k]) * t; };
        LaneParams p;
        p.biasStart = splat(start[kBias]);
        p.biasStep = splat(delta[kBias]) * t;
        p.inAmount = ramp(kIn);
        p.inDry = 1.0f - p.inAmount;
        p.outAmount = ramp(kOut);
        p.outDry = 1.0f - p.outAmount;
        const Vec d = ramp(kDist);
        p.distDry = 1.0f - d;
        p.distWet = 2.0f * d;
        p.clipWet = ramp(kClip);
        p.clipDry = 1.0f - p.clipWet;
        return p;
    }
};

// Lane layouts of the generator's numbers. A capture frame draws left and
// right input noise, then left and right output noise; a hold frame draws
// only the two output numbers. Pairs of frames follow the pair layout above.
constexpr RandLanes kCaptureIn(kJump1, kJump2, kJump1, kJump2);
constexpr RandLanes kCaptureOut(kJump3, kJump4, kJump3, kJump4);
constexpr RandLanes kCapturePairIn(kJump1, kJump5, kJump2, kJump6);
constexpr RandLanes kCapturePairOut(kJump3, kJump7, kJump4, kJump8);
constexpr RandLanes kHold(kJump1, kJump2, kJump1, kJump2);
constexpr RandLanes kHoldPair(kJump1, kJump3, kJump2, kJump4);

// Frames from counter value c to the next capture frame (0: c itself captures).
// Captures fall on multiples of n, and the counter's wrap to 0 is one of them.
inline uint64_t framesToCapture(uint32_t c, uint32_t n)
{
    const uint32_t rem = c % n;
    if (rem == 0)
        return 0;
    return std::min<uint64_t>(n - rem, (uint64_t(1) << 32) - c);
}

// Frames after a capture at counter value c until the next one.
inline uint64_t holdAfterCapture(uint32_t c, uint32_t n)
{
    return std::min<uint64_t>(uint64_t(c) + n, uint64_t(1) << 32) - c - 1;
}

struct Buffers
{
    const float* inL;
    const float* inR;
    float* outL;
    float* outR;
};

// The state the loop carries from frame to frame.
struct Running
{
    uint32_t state;
    Vec held;         // held samples: left, right, left, right
    Vec heldClipped;  // softClip of held
    Vec clipped;      // Post Clip of held; kept up to date only while nothing ramps
    // Output of every hold frame, when the noise cannot touch it (see hold()).
    bool still;
    Vec stillOut;
    // Held samples of the last pair of frames, still as counts of 2^-149 (left
    // of both frames, right of both frames) when the subnormal shortcut took it.
    bool heldInUnits;
    __m128d heldUnitsL, heldUnitsR;
};

// ---- Subnormal samples --------------------------------------------------
// Subnormal operands and results slow the processor's floating-point units
// down several times, and a signal fading out consists of nothing else. On
// such tiny samples the stages take simple forms: x * x underflows to 0, so
// softClip(x) is (27 * x) / 27 rounded twice, which gives x back bit for bit
// when x is subnormal, and a noise stage gives amount * x + (1 - amount) * x
// whatever r - bias is (finite, as it is without ramps). Every value is a
// multiple of 2^-149; below 2^-125 a product rounds to the nearest multiple,
// ties to even, and a sum is exact. The shortcut counts in units of 2^-149 in
// double precision, where that rounding is one addition and one subtraction,
// and touches no subnormal number. It applies to inputs small enough that
// every product and sum stays below 2^24 units, and to frames whose outputs
// are not zero (a zero anywhere on the way makes the output zero, and zeros
// carry signs the shortcut does not track); any other frame takes the
// ordinary path.
namespace subnormal {

const __m128d kRound = _mm_set1_pd(6755399441055744.0);  // 1.5 * 2^52
const __m128d kOne = _mm_set1_pd(1.0);
const __m128d k27 = _mm_set1_pd(27.0);
const __m128d kInverse27 = _mm_set1_pd(1.0 / 27.0);
const __m128d kAbs = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFll));

// Coefficients of one block without ramps, and the input range they allow.
struct Coefficients
{
    __m128d distDry, distWet, inAmount, inDry, clipDry, clipWet, outAmount, outDry;
    int32_t maxUnits;  // largest input magnitude, in units, the shortcut takes; 0: none

    Coefficients() = default;

    explicit Coefficients(const LaneParams& p)
    {
        const float c[8] = { p.distDry[0], p.distWet[0], p.inAmount[0], p.inDry[0],
                             p.clipDry[0], p.clipWet[0], p.outAmount[0], p.outDry[0] };
        __m128d* const dst[8] = { &distDry, &distWet, &inAmount, &inDry, &clipDry, &clipWet, &outAmount, &outDry };
        bool moderate = true;
        for (int k = 0; k < 8; ++k)
        {
            *dst[k] = _mm_set1_pd(c[k]);
            moderate = moderate && std::fabs(c[k]) <= 4.0f;
        }
        maxUnits = moderate ? inputLimit(c) : 0;
    }

private:
    // Each value's magnitude is bounded by a * U + b for inputs of at most U
    // units (each rounding adds at most half a unit, softClip at most one).
    // Every product is at most the bound of the sum it enters, so the sums'
    // bounds staying within 2^24 - 1 units keeps everything in range; the
    // largest a and b of them bound them together, and one division gives U.
    static int32_t inputLimit(const float (&c)[8])
    {
        const auto mag = [&c](int k) { return std::fabs(double(c[k])); };
        const double distortedA = mag(0) + mag(1), distortedB = 1.0;
        const double heldA = (mag(2) + mag(3)) * distortedA, heldB = (mag(2) + mag(3)) * distortedB + 1.0;
        const double clippedA = (mag(4) + mag(5)) * heldA, clippedB = (mag(4) + mag(5)) * (heldB + 1.0) + 1.0;
        const double outA = (mag(6) + mag(7)) * clippedA, outB = (mag(6) + mag(7)) * clippedB + 1.0;
        const double a = std::max({ distortedA, heldA, clippedA, outA });
        const double b = std::max({ distortedB, heldB + 1.0, clippedB, outB });
        constexpr double kTop = 16777215.0;
        if (!(a > 0.0))
            return 0;
        const double cap = std::min((kTop - b) / a, 8388607.0);  // 8388607: the largest subnormal
        // Stay clear of the rounding in the bounds themselves.
        return cap <= 0.0 ? 0 : static_cast<int32_t>(cap * (1.0 - 1e-9));
    }
};

// All four lanes subnormal or zero.
inline bool allSubnormal(Vec x)
{
    const IVec ok = (reinterpret_cast<IVec>(x) & 0x7F800000) == 0;
    return _mm_movemask_ps(reinterpret_cast<__m128>(ok)) == 0xF;
}

// All four subnormal-or-zero lanes nonzero and at most maxUnits units.
inline bool takes(Vec x, int32_t maxUnits)
{
    const IVec mantissa = reinterpret_cast<IVec>(x) & 0x007FFFFF;
    const IVec ok = (mantissa != 0) & (mantissa <= maxUnits);
    return _mm_movemask_ps(reinterpret_cast<__m128>(ok)) == 0xF;
}

// Subnormal lanes as signed counts of 2^-149.
inline __m128i toUnits(Vec x)
{
    const IVec bits = reinterpret_cast<IVec>(x);
    const IVec negative = bits >> 31;
    return reinterpret_cast<__m128i>(((bits & 0x007FFFFF) ^ negative) - negative);
}

// Counts below 2^24 in magnitude back to single precision (below 2^24 the
// bit pattern of n * 2^-149 is n): lanes 0 and 1 of a, then lanes 0 and 1 of b.
inline Vec fromUnits(__m128d a, __m128d b)
{
    const IVec units = reinterpret_cast<IVec>(_mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b)));
    const IVec negative = units >> 31;
    const IVec magnitude = (units ^ negative) - negative;
    return reinterpret_cast<Vec>(magnitude | (negative & static_cast<int32_t>(0x80000000u)));
}

inline __m128d roundUnits(__m128d y)
{
    return _mm_sub_pd(_mm_add_pd(y, kRound), kRound);
}

// a * v + b * w with each product rounded as single precision rounds it.
inline __m128d mix(__m128d a, __m128d v, __m128d b, __m128d w)
{
    return _mm_add_pd(roundUnits(_mm_mul_pd(a, v)), roundUnits(_mm_mul_pd(b, w)));
}

// softClip of a tiny sample: 27 * x rounded to single precision (a normal
// number, or exact), then divided by 27 and rounded to whole units. A quotient
// of whole units by 27 lies at least 1/54 away from any half unit, far more
// than the error of multiplying by 1/27 in double precision (below 2^-28 for
// counts below 2^24), so that product rounds to the same whole number.
inline __m128d softClip(__m128d v)
{
    const __m128d product = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(k27, v)));
    return roundUnits(_mm_mul_pd(product, kInverse27));
}

struct Frame
{
    __m128d held, heldClipped, clipped, out;  // left, right
};

// One frame's two channels from subnormal inputs.
inline Frame process(__m128d units, const Coefficients& c)
{
    Frame f;
    const __m128d distorted = mix(c.distDry, units, c.distWet, units);  // softClip(x) == x
    f.held = mix(c.inAmount, distorted, c.inDry, distorted);
    f.heldClipped = softClip(f.held);
    f.clipped = mix(c.clipDry, f.held, c.clipWet, f.heldClipped);
    f.out = mix(c.outAmount, f.clipped, c.outDry, f.clipped);
    return f;
}

// Hold frames after subnormal, nonzero held samples (lanes 0 and 1 of held):
// softClip(held) == held, and the output is the noise-free one of hold().
// False when a value leaves the range the shortcut covers.
inline bool holdOutputs(Vec held, const Coefficients& c, Vec& clipped, Vec& out)
{
    const __m128d top = _mm_set1_pd(16777215.0);
    const auto within = [&top](__m128d v) { return _mm_cmple_pd(_mm_and_pd(v, kAbs), top); };
    const __m128d h = _mm_cvtepi32_pd(toUnits(held));
    const __m128d clip = mix(c.clipDry, h, c.clipWet, h);
    const __m128d o = mix(c.outAmount, clip, c.outDry, clip);
    const __m128d ok = _mm_and_pd(
        _mm_and_pd(_mm_and_pd(within(_mm_mul_pd(c.clipDry, h)), within(_mm_mul_pd(c.clipWet, h))),
                   _mm_and_pd(within(_mm_mul_pd(c.outAmount, clip)), within(_mm_mul_pd(c.outDry, clip)))),
        _mm_and_pd(_mm_and_pd(within(clip), within(o)), _mm_cmpge_pd(_mm_and_pd(o, kAbs), kOne)));
    if (_mm_movemask_pd(ok) != 3)
        return false;
    clipped = fromUnits(clip, clip);
    out = fromUnits(o, o);
    return true;
}

inline bool nonzero(__m128d a, __m128d b)
{
    const __m128d smallest = _mm_min_pd(_mm_and_pd(a, kAbs), _mm_and_pd(b, kAbs));
    return _mm_movemask_pd(_mm_cmpge_pd(smallest, kOne)) == 3;
}

} // namespace subnormal

template <bool kRamp>
class BlockProcessor
{
public:
    // shortcuts: whether the exact shortcuts for tiny values may be taken.
    BlockProcessor(const BlockRamps& ramps, uint32_t frames, bool shortcuts)
        : fRamps(ramps), fFramesF(static_cast<float>(frames)), fSteady(ramps.at(splat(0.0f))),
          fShortcuts(!kRamp && shortcuts) {}

    // Parameters of frame i in every lane.
    LaneParams frameParams(uint32_t i) const
    {
        if (!kRamp)
            return fSteady;
        return fRamps.at(splat(static_cast<float>(i)) / fFramesF);
    }

    // Parameters of frames i and i + 1 in the pair layout.
    LaneParams pairParams(uint32_t i) const
    {
        if (!kRamp)
            return fSteady;
        const float ti = static_cast<float>(i), tj = static_cast<float>(i + 1);
        return fRamps.at(Vec { ti, tj, ti, tj } / fFramesF);
    }

    static Vec loadPair(const Buffers& b, uint32_t i)
    {
        const __m128 left = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(b.inL + i));
        return reinterpret_cast<Vec>(_mm_loadh_pi(left, reinterpret_cast<const __m64*>(b.inR + i)));
    }

    static void storePair(const Buffers& b, uint32_t i, Vec v)
    {
        _mm_storel_pi(reinterpret_cast<__m64*>(b.outL + i), reinterpret_cast<__m128>(v));
        _mm_storeh_pi(reinterpret_cast<__m64*>(b.outR + i), reinterpret_cast<__m128>(v));
    }

    // Coefficients of the subnormal shortcut, worked out at its first use in a block.
    const subnormal::Coefficients& subnormalCoefficients() const
    {
        if (!fSubnormalReady)
        {
            fSubnormal = subnormal::Coefficients(fSteady);
            fSubnormalReady = true;
        }
        return fSubnormal;
    }

    // Whether the subnormal shortcut may take these four input samples.
    bool subnormalShortcut(Vec x) const
    {
        return fShortcuts && subnormal::allSubnormal(x) && subnormal::takes(x, subnormalCoefficients().maxUnits);
    }

    // The block starts inside a hold: the held samples' values for hold().
    void resumeHold(Running& run) const
    {
        run.still = false;
        if (fShortcuts && subnormal::allSubnormal(run.held) && subnormal::takes(run.held, 8388607)
            && subnormal::holdOutputs(run.held, subnormalCoefficients(), run.clipped, run.stillOut))
        {
            run.heldClipped = run.held;
            run.still = true;
            return;
        }
        run.heldClipped = softClip(run.held);
        run.clipped = postClip(run.held, run.heldClipped, fSteady);
    }

    void captureOne(const Buffers& b, uint32_t i, Running& run) const
    {
        const float xL = b.inL[i], xR = b.inR[i];
        const Vec x { xL, xR, xL, xR };
        if (subnormalShortcut(x))
        {
            const subnormal::Frame f = subnormal::process(_mm_cvtepi32_pd(subnormal::toUnits(x)), fSubnormal);
            if (subnormal::nonzero(f.out, f.out))
            {
                run.state = kJump4(run.state);
                run.held = subnormal::fromUnits(f.held, f.held);
                run.heldClipped = subnormal::fromUnits(f.heldClipped, f.heldClipped);
                run.clipped = subnormal::fromUnits(f.clipped, f.clipped);
                const Vec out = subnormal::fromUnits(f.out, f.out);
                b.outL[i] = out[0];
                b.outR[i] = out[1];
                // Hold frames repeat this frame's output (the same formula, see hold()).
                run.still = true;
                run.stillOut = out;
                return;
            }
        }

        const LaneParams p = frameParams(i);
        const Vec rIn = unitFloat(kCaptureIn(run.state));
        const Vec rOut = unitFloat(kCaptureOut(run.state));
        run.state = kJump4(run.state);
        run.held = captureSample(x, p, rIn);
        run.heldClipped = softClip(run.held);
        run.clipped = postClip(run.held, run.heldClipped, p);
        run.still = false;
        const Vec out = addNoise(run.clipped, p.outAmount, p.outDry, p.bias(rOut));
        b.outL[i] = out[0];
        b.outR[i] = out[1];
    }

    // Frames i and i + 1, both capture frames (every frame captures). Lanes:
    // left of i, left of i + 1, right of i, right of i + 1.
    void capturePair(const Buffers& b, uint32_t i, Running& run) const
    {
        const Vec x = loadPair(b, i);
        if (subnormalShortcut(x))
        {
            const __m128i units = subnormal::toUnits(x);
            const subnormal::Frame left = subnormal::process(_mm_cvtepi32_pd(units), fSubnormal);
            const subnormal::Frame right = subnormal::process(_mm_cvtepi32_pd(_mm_unpackhi_epi64(units, units)), fSubnormal);
            if (subnormal::nonzero(left.out, right.out))
            {
                run.state = kJump8(run.state);
                storePair(b, i, subnormal::fromUnits(left.out, right.out));
                // Only the block's last pair leaves its held samples behind.
                run.heldInUnits = true;
                run.heldUnitsL = left.held;
                run.heldUnitsR = right.held;
                return;
            }
        }

        const LaneParams p = pairParams(i);
        const Vec rIn = unitFloat(kCapturePairIn(run.state));
        const Vec rOut = unitFloat(kCapturePairOut(run.state));
        run.state = kJump8(run.state);
        const Vec held = captureSample(x, p, rIn);
        const Vec clipped = postClip(held, softClip(held), p);
        storePair(b, i, addNoise(clipped, p.outAmount, p.outDry, p.bias(rOut)));
        run.heldInUnits = false;
        run.held = Vec { held[1], held[3], held[1], held[3] };
    }

    // Hold frames i .. end - 1, two at a time.
    void hold(const Buffers& b, uint32_t i, uint32_t end, Running& run) const
    {
        if (fShortcuts)
        {
            // A Post Clip output c so small that c * c underflows to 0 (|c| at
            // most 2^-75) gets no noise: c + (r - bias) * 0 == c for c != 0,
            // and every hold frame gives amount * c + (1 - amount) * c.
            if (!run.still)
            {
                const IVec magnitude = reinterpret_cast<IVec>(run.clipped) & 0x7FFFFFFF;
                const IVec tiny = (magnitude != 0) & (magnitude <= 0x1A000000);  // 2^-75
                if (_mm_movemask_ps(reinterpret_cast<__m128>(tiny)) == 0xF)
                {
                    run.still = true;
                    run.stillOut = fSteady.outAmount * run.clipped + fSteady.outDry * run.clipped;
                }
            }
            if (run.still)
            {
                std::fill(b.outL + i, b.outL + end, run.stillOut[0]);
                std::fill(b.outR + i, b.outR + end, run.stillOut[1]);
                run.state = jumpBy(uint64_t(end - i) * 2)(run.state);
                return;
            }
        }
        // Without ramps the Post Clip output is fixed for the whole run.
        const Vec square = run.clipped * run.clipped;
        const Vec dry = fSteady.outDry * run.clipped;
        // Pairs of frames: left of i, left of i + 1, right of i, right of i + 1.
        const auto pairs = [](Vec v) { return Vec { v[0], v[0], v[1], v[1] }; };
        const Vec held2 = pairs(run.held), heldClipped2 = pairs(run.heldClipped), clipped2 = pairs(run.clipped);
        const Vec square2 = pairs(square), dry2 = pairs(dry);
        for (; i + 1 < end; i += 2)
        {
            const Vec r = unitFloat(kHoldPair(run.state));
            run.state = kJump4(run.state);
            Vec out;
            if (kRamp)
            {
                const LaneParams p = pairParams(i);
                out = addNoise(postClip(held2, heldClipped2, p), p.outAmount, p.outDry, p.bias(r));
            }
            else
            {
                out = fSteady.outAmount * (clipped2 + fSteady.bias(r) * square2) + dry2;
            }
            storePair(b, i, out);
        }
        if (i < end)
        {
            const LaneParams p = frameParams(i);
            const Vec r = unitFloat(kHold(run.state));
            run.state = kJump2(run.state);
            const Vec clipped = kRamp ? postClip(run.held, run.heldClipped, p) : run.clipped;
            const Vec out = addNoise(clipped, p.outAmount, p.outDry, p.bias(r));
            b.outL[i] = out[0];
            b.outR[i] = out[1];
        }
    }

private:
    const BlockRamps& fRamps;
    const float fFramesF;
    const LaneParams fSteady;
    const bool fShortcuts;
    // Worked out at the first subnormal frame of a block, if any.
    mutable bool fSubnormalReady = false;
    mutable subnormal::Coefficients fSubnormal;
};

// One block: runs of hold frames between capture frames, as the counter gives them.
template <bool kRamp>
void processBlock(const BlockRamps& ramps, const Buffers& b, uint32_t frames, uint32_t n,
                  uint32_t& counter, Running& run)
{
    // The shortcuts reproduce the default floating-point environment (round to
    // nearest, subnormals kept). A host that has the processor flush subnormals
    // to zero or round otherwise gets the ordinary path, which follows its mode.
    const bool defaultEnvironment = (_mm_getcsr() & 0xE040u) == 0;  // rounding control, FTZ, DAZ
    const BlockProcessor<kRamp> proc(ramps, frames, defaultEnvironment);

    if (n == 1)
    {
        uint32_t i = 0;
        for (; i + 1 < frames; i += 2)
            proc.capturePair(b, i, run);
        if (run.heldInUnits)
        {
            const Vec held = subnormal::fromUnits(run.heldUnitsL, run.heldUnitsR);
            run.held = Vec { held[1], held[3], held[1], held[3] };
        }
        if (i < frames)
            proc.captureOne(b, i, run);
        counter += frames;
        return;
    }

    uint64_t gap = framesToCapture(counter, n);
    if (gap > 0)
        proc.resumeHold(run);
    uint32_t i = 0;
    while (i < frames)
    {
        if (gap == 0)
        {
            proc.captureOne(b, i, run);
            gap = holdAfterCapture(counter, n);
            ++counter;
            ++i;
            continue;
        }
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(gap, frames - i));
        proc.hold(b, i, i + count, run);
        i += count;
        counter += count;
        gap -= count;
    }
}

} // namespace

QuolvaCrush::QuolvaCrush()
    : Plugin(kParamCount, 0, 0),
      fDownsample(0), fNoiseBias(0), fInputNoise(0), fOutputNoise(0), fDistort(0), fPostClip(0),
      fPrevNoiseBias(0), fPrevInputNoise(0), fPrevOutputNoise(0), fPrevDistort(0), fPrevPostClip(0),
      fNoiseState(1), fHeldL(0), fHeldR(0), fFrameCounter(0)
{
    // Defaults come from the same table the host sees.
    for (uint32_t i = 0; i < kParamCount; ++i)
    {
        Parameter parameter;
        initParameter(i, parameter);
        setParameterValue(i, parameter.ranges.def);
    }
    activate();
}

QuolvaCrush::~QuolvaCrush() = default;

void QuolvaCrush::initParameter(uint32_t index, Parameter& parameter)
{
    if (index >= kParamCount)
        return;

    parameter.hints = kHints[index];
    parameter.name = kNames[index];
    parameter.symbol = kSymbols[index];
    parameter.ranges.def = kParamDefault[index];
    parameter.ranges.min = kParamMin[index];
    parameter.ranges.max = kParamMax[index];
}

float QuolvaCrush::getParameterValue(uint32_t index) const
{
    switch (index)
    {
    case kParamDownsample:  return fDownsample;
    case kParamNoiseBias:   return fNoiseBias;
    case kParamInputNoise:  return fInputNoise;
    case kParamOutputNoise: return fOutputNoise;
    case kParamDistort:     return fDistort;
    case kParamPostClip:    return fPostClip;
    default:                return 0.0f;
    }
}

void QuolvaCrush::setParameterValue(uint32_t index, float value)
{
    switch (index)
    {
    case kParamDownsample:  fDownsample = value; break;
    case kParamNoiseBias:   fNoiseBias = value; break;
    case kParamInputNoise:  fInputNoise = value; break;
    case kParamOutputNoise: fOutputNoise = value; break;
    case kParamDistort:     fDistort = value; break;
    case kParamPostClip:    fPostClip = value; break;
    default: break;
    }
}

uint32_t QuolvaCrush::holdFactor() const
{
    const float d = fDownsample;
    if (!(d >= 1.0f))  // below 1, or NaN: every frame captures
        return 1;
    if (d >= 4294967296.0f)
        return kMaxHold;
    return static_cast<uint32_t>(d);
}

float QuolvaCrush::engineValue(float value, uint32_t index)
{
    // A broken automation lane must not leave NaN or infinity in the ramps.
    return std::isfinite(value) ? value : kParamDefault[index];
}

void QuolvaCrush::copyRampStarts()
{
    fPrevNoiseBias = engineValue(fNoiseBias, kParamNoiseBias);
    fPrevInputNoise = engineValue(fInputNoise, kParamInputNoise);
    fPrevOutputNoise = engineValue(fOutputNoise, kParamOutputNoise);
    fPrevDistort = engineValue(fDistort, kParamDistort);
    fPrevPostClip = engineValue(fPostClip, kParamPostClip);
}

void QuolvaCrush::activate()
{
    copyRampStarts();
    fHeldL = 0.0f;
    fHeldR = 0.0f;
    fFrameCounter = 0;
    // The noise generator runs on: it is seeded once, at construction.
}

void QuolvaCrush::run(const float** inputs, float** outputs, uint32_t frames)
{
    if (frames > 0)
    {
        BlockRamps ramps;
        ramps.set(BlockRamps::kBias, fPrevNoiseBias, engineValue(fNoiseBias, kParamNoiseBias));
        ramps.set(BlockRamps::kIn, fPrevInputNoise, engineValue(fInputNoise, kParamInputNoise));
        ramps.set(BlockRamps::kOut, fPrevOutputNoise, engineValue(fOutputNoise, kParamOutputNoise));
        ramps.set(BlockRamps::kDist, fPrevDistort, engineValue(fDistort, kParamDistort));
        ramps.set(BlockRamps::kClip, fPrevPostClip, engineValue(fPostClip, kParamPostClip));

        const Buffers buffers { inputs[0], inputs[1], outputs[0], outputs[1] };
        Running run {};
        run.state = fNoiseState;
        run.held = Vec { fHeldL, fHeldR, fHeldL, fHeldR };
        uint32_t counter = fFrameCounter;

        if (ramps.steady())
            processBlock<false>(ramps, buffers, frames, holdFactor(), counter, run);
        else
            processBlock<true>(ramps, buffers, frames, holdFactor(), counter, run);

        fNoiseState = run.state;
        fFrameCounter = counter;
        fHeldL = run.held[0];
        fHeldR = run.held[1];
    }

    copyRampStarts();
}

Plugin* createPlugin()
{
    return new QuolvaCrush();
}

END_NAMESPACE_DISTRHO
