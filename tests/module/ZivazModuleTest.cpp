// Zivaz.clap driven through our host.
#include "ModuleFixture.hpp"
#include "CrushReference.hpp"



#include <cmath>
#include <map>

using namespace quolva;
using quolva::test::LoadedPlugin;

namespace {
const char* const kId = "org.quolvan.quolvan.crush";
LoadedPlugin open() { return LoadedPlugin::open(ZIVAZ_CLAP_PATH, kId); }
}

TEST(ZivazModule, DescriptorPortsAndParameters)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    EXPECT_EQ(p->id(), kId);
    EXPECT_EQ(p->name(), "Quolvan Zivaz");
    EXPECT_EQ(p->vendor(), "Quolvan Contributors");
    EXPECT_EQ(p->description(), "Sample rate reduction");
    EXPECT_EQ(p->version(), "");
    EXPECT_EQ(p->features(), (std::vector<std::string> { "audio-effect", "utility", "stereo" }));
    EXPECT_NE(p->pluginExtension("clap.params"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.state"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.audio-ports"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.gui"), nullptr);
    EXPECT_EQ(p->pluginExtension("clap.latency"), nullptr);
    EXPECT_EQ(p->pluginExtension("clap.note-ports"), nullptr);
    test::expectMainStereoPorts(*p);
    test::expectParameterTable(*p, {
        { "Downsample", 1, 16, 1, true }, { "Noise Bias", 0, 1, 0.5, false }, { "Input Noise", 0, 1, 0, false },
        { "Output Noise", 0, 1, 0, false }, { "Distort", 0, 1, 0, false }, { "Post Clip", 0, 1, 0, false },
    });
}

TEST(ZivazModule, StateHoldsSixSymbolsAndRoundTrips)
{
    auto a = open();
    ASSERT_TRUE(a.instance);
    std::vector<uint8_t> fresh;
    ASSERT_TRUE(a->saveState(fresh));
    const auto defaults = test::stateEntries(fresh);
    const std::vector<std::pair<std::string, std::string>> expected = {
        { "downsample", "1" }, { "noisebias", "0.5" }, { "prenoise", "0" },
        { "postnoise", "0" }, { "distort", "0" }, { "postclip", "0" },
    };
    EXPECT_EQ(defaults, expected);

    ASSERT_TRUE(a->flush({ { 0, 7.6 }, { 2, 0.25 }, { 3, 0.75 }, { 4, 1.5 }, { 5, 0.125 } }));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(a->saveState(bytes, 5));
    auto b = open();
    ASSERT_TRUE(b.instance);
    ASSERT_TRUE(b->loadState(bytes, 3));
    EXPECT_EQ(b->getValue(0), 8.0);  // integers are saved rounded
    EXPECT_EQ(b->getValue(2), 0.25);
    EXPECT_EQ(b->getValue(3), 0.75);
    EXPECT_EQ(b->getValue(4), 1.5);
    EXPECT_EQ(b->getValue(5), 0.125);
    std::vector<uint8_t> again;
    ASSERT_TRUE(b->saveState(again, 2));
    EXPECT_EQ(again, bytes);
}

TEST(ZivazModule, LaterEventForOneParameterWins)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    ASSERT_TRUE(p->activate(48000.0, 1, 64));
    ASSERT_TRUE(p->startProcessing());
    std::vector<float> inL(64, 0.5f), inR(64, 0.5f), outL(64), outR(64);
    const float* in[2] = { inL.data(), inR.data() };
    float* out[2] = { outL.data(), outR.data() };
    p->process(in, out, 64, { { 4, 0.0, 0 }, { 4, 1.0, 10 } }, nullptr);
    p->process(in, out, 64, std::vector<host::ParamEvent> {}, nullptr);
    // Distort 1 throughout the second block: 2 softClip(0.5).
    EXPECT_NEAR(outL[5], 0.931624f, 1e-6f);
    p->stopProcessing();
    p->deactivate();
    EXPECT_EQ(p->getValue(4), 1.0);
}

TEST(ZivazModule, RenderMatchesTheEngineAlgorithm)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    CrushReference reference;
    reference.activate();
    const double rate = 44100.0;
    test::expectRenderMatches(*p, test::noise(44100 * 2, rate, 99), 300,
                              {
                                  { 0.0, 0, 4 }, { 0.0, 2, 0.3 }, { 0.0, 3, 0.2 }, { 0.3, 4, 0.8 }, { 0.6, 5, 0.5 },
                                  { 0.9, 0, 11 }, { 1.1, 1, 0.1 }, { 1.4, 0, 2.5 }, { 1.7, 4, 0.0 },
                              },
                              true, reference);
}
