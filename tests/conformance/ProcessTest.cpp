// Audio processing: every output sample written, finite and normal, nothing
// written past the block or into the inputs, in place as out of place, at any
// sample rate and block size, across activation cycles.
#include "Conformance.hpp"

#include <algorithm>
#include <random>

using namespace quolva;
using namespace quolva::conformance;

namespace {

class Process : public ModuleTest
{
protected:
    struct Setting
    {
        const char* name;
        std::vector<ParamEvent> events;
    };
    std::vector<Setting> settings() const { return { { "defaults", {} }, { "busy", GetParam().busy } }; }

    // A plug-in with these values set while inactive.
    Plugin openWith(const std::vector<ParamEvent>& values) const
    {
        Plugin p = open();
        if (p && !p->flush(values))
        {
            ADD_FAILURE() << "flush: " << p->lastError();
            p.instance.reset();
        }
        return p;
    }
};
QUOLVA_FOR_EACH_MODULE(Process);

constexpr uint32_t kMaxBlock = 16384;

// 1 to 16384 frames, with odd sizes and a few random ones.
std::vector<uint32_t> blockSizes(uint32_t seed)
{
    std::vector<uint32_t> sizes = { 1, 2, 17, 64, 2027, kMaxBlock, 3 };
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> d(1, kMaxBlock);
    for (int i = 0; i < 4; ++i)
        sizes.push_back(d(rng));
    return sizes;
}

std::string firstProblem(host::Instance& p)
{
    const auto problems = p.problems();
    return problems.empty() ? std::string() : problems.front();
}

} // namespace

TEST_P(Process, RandomAudioOutOfPlaceAndInPlace)
{
    for (const Setting& s : settings())
    {
        SCOPED_TRACE(s.name);
        auto outOfPlace = openWith(s.events);
        auto inPlace = openWith(s.events);
        ASSERT_TRUE(outOfPlace && inPlace);
        ASSERT_TRUE(startAudio(*outOfPlace, 48000.0, kMaxBlock));
        ASSERT_TRUE(startAudio(*inPlace, 48000.0, kMaxBlock));

        uint32_t seed = 11;
        for (uint32_t frames : blockSizes(5))
        {
            SCOPED_TRACE(frames);
            GuardedStereo input(frames);
            input.fillNoise(seed++);
            const GuardedStereo inputBefore = input;
            GuardedStereo output(frames);  // NaN until written
            EXPECT_EQ(outOfPlace->process(input.in(), output.out(), frames), CLAP_PROCESS_CONTINUE);
            EXPECT_EQ(output.defects(), "");
            EXPECT_TRUE(input.sameBlock(inputBefore));
            EXPECT_EQ(input.defects(), "");  // its guards too

            GuardedStereo shared = inputBefore;
            EXPECT_EQ(inPlace->process(shared.in(), shared.out(), frames), CLAP_PROCESS_CONTINUE);
            EXPECT_EQ(shared.defects(), "");
            EXPECT_TRUE(shared.sameBlock(output)) << "in place differs from out of place";
            if (HasFailure())
                return;
        }
        // The host's own checks: nothing written into the (private copy of the)
        // inputs, no sample left unwritten.
        EXPECT_EQ(firstProblem(*outOfPlace), "");
        EXPECT_EQ(firstProblem(*inPlace), "");
    }
}

TEST_P(Process, SampleRatesAndBlockSizes)
{
    const double rates[] = { 8000, 11025, 22050, 44100, 48000, 88200, 96000, 192000, 384000, 768000, 1234.5678 };
    for (double rate : rates)
    {
        for (const Setting& s : settings())
        {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << s.name);
            auto p = openWith(s.events);
            ASSERT_TRUE(p);
            ASSERT_TRUE(startAudio(*p, rate, kMaxBlock));
            uint32_t seed = static_cast<uint32_t>(rate);
            for (uint32_t frames : blockSizes(seed))
            {
                GuardedStereo input(frames), output(frames);
                input.fillNoise(++seed);
                EXPECT_EQ(p->process(input.in(), output.out(), frames), CLAP_PROCESS_CONTINUE);
                ASSERT_EQ(output.defects(), "") << frames << " frames";
            }
            EXPECT_EQ(firstProblem(*p), "");
        }
    }
}

TEST_P(Process, ActivationCycles)
{
    // Deactivation and reactivation at other rates and block limits, stopping
    // and restarting processing, and a reset within each activation.
    struct Step { double rate; uint32_t maxFrames; };
    const Step steps[] = {
        { 48000, 512 }, { 96000, 4096 }, { 8000, 64 }, { 1234.5678, 17 }, { 768000, 2048 }, { 48000, 512 }, { 48000, 512 },
    };
    const uint32_t sizes[] = { 512, 300, 1, 17, 512 };
    auto p = openWith(GetParam().busy);
    ASSERT_TRUE(p);
    uint32_t seed = 100;
    for (const Step& step : steps)
    {
        SCOPED_TRACE(testing::Message() << step.rate << " Hz, at most " << step.maxFrames << " frames");
        ASSERT_TRUE(startAudio(*p, step.rate, step.maxFrames));
        for (int pass = 0; pass < 2; ++pass)
        {
            for (uint32_t size : sizes)
            {
                const uint32_t frames = std::min(size, step.maxFrames);
                GuardedStereo input(frames), output(frames);
                input.fillNoise(seed++);
                EXPECT_EQ(p->process(input.in(), output.out(), frames), CLAP_PROCESS_CONTINUE);
                ASSERT_EQ(output.defects(), "") << "pass " << pass << ", " << frames << " frames";
            }
            p->stopProcessing();
            ASSERT_TRUE(p->startProcessing());
            p->reset();
        }
        p->deactivate();
    }
    EXPECT_EQ(firstProblem(*p), "");
}
