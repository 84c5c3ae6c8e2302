// Radeda.clap driven through our host.
#include "ModuleFixture.hpp"
#include "RepeatReference.hpp"



#include <cmath>
#include <map>

using namespace quolva;
using quolva::test::LoadedPlugin;

namespace {
const char* const kId = "org.quolvan.quolvan.repeat";
LoadedPlugin open() { return LoadedPlugin::open(RADEDA_CLAP_PATH, kId); }
}

TEST(RadedaModule, Descriptor)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    EXPECT_EQ(p->id(), kId);
    EXPECT_EQ(p->name(), "Quolvan Radeda");
    EXPECT_EQ(p->vendor(), "Quolvan Contributors");
    EXPECT_EQ(p->description(), "Beat repeat");
    EXPECT_EQ(p->version(), "");
    EXPECT_EQ(p->features(), std::vector<std::string> { "audio-effect" });
    const auto* d = p->descriptor();
    EXPECT_STREQ(d->url, "");
    EXPECT_STREQ(d->manual_url, "");
    EXPECT_STREQ(d->support_url, "");
    // Extensions: parameters, state, audio ports and the editor; nothing else.
    EXPECT_NE(p->pluginExtension("clap.params"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.state"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.audio-ports"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.gui"), nullptr);
    EXPECT_EQ(p->pluginExtension("clap.latency"), nullptr);
    EXPECT_EQ(p->pluginExtension("clap.note-ports"), nullptr);
}

TEST(RadedaModule, PortsAndParameterTable)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    test::expectMainStereoPorts(*p);
    test::expectParameterTable(*p, {
        { "Active", 0, 1, 0, true }, { "BPM", 10, 480, 100, true }, { "Beats", 1, 4, 2, true },
        { "Division", 1, 16, 4, true }, { "Retrigger", 0, 1, 0, true }, { "Attack", 0, 1, 0, false },
        { "Hold", 0, 1, 1, false }, { "Release", 0, 1, 1, false }, { "Varispeed", 0, 1, 0, true },
        { "Speed", 0.25, 4, 1, false },
    });
}

TEST(RadedaModule, StateHoldsNineValuesAndRoundTrips)
{
    auto a = open();
    ASSERT_TRUE(a.instance);
    const std::vector<host::ParamEvent> set = {
        { 1, 120.7 }, { 3, 8 }, { 5, 0.25 }, { 9, 2.5 }, { 0, 1 }, { 4, 1 },
    };
    ASSERT_TRUE(a->flush(set));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(a->saveState(bytes));

    const auto entries = test::stateEntries(bytes);
    std::map<std::string, std::string> byKey(entries.begin(), entries.end());
    EXPECT_EQ(entries.size(), 9u);
    EXPECT_EQ(byKey.count("retrigger"), 0u);
    EXPECT_EQ(byKey["bpm"], "121");  // integers are saved as whole numbers
    EXPECT_EQ(byKey["beats"], "2");
    EXPECT_EQ(byKey["division"], "8");
    EXPECT_EQ(std::stod(byKey["attack"]), 0.25);
    EXPECT_EQ(std::stod(byKey["speed"]), 2.5);

    auto b = open();
    ASSERT_TRUE(b.instance);
    for (size_t chunk : { size_t(0), size_t(1), size_t(7) })
    {
        ASSERT_TRUE(b->loadState(bytes, chunk)) << chunk;
        EXPECT_EQ(b->getValue(1), 121.0);
        EXPECT_EQ(b->getValue(3), 8.0);
        EXPECT_EQ(b->getValue(5), 0.25);
        EXPECT_EQ(b->getValue(9), 2.5);
        EXPECT_EQ(b->getValue(0), 1.0);
        EXPECT_EQ(b->getValue(4), 0.0);  // the trigger is not part of the state
        std::vector<uint8_t> again;
        ASSERT_TRUE(b->saveState(again, chunk));
        EXPECT_EQ(again, bytes);
    }
}

// One rendered scenario with automation, sample by sample against the plain
// algorithm the engine tests use.
TEST(RadedaModule, RenderMatchesTheEngineAlgorithm)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    const double rate = 48000.0;
    RepeatReference reference(rate);
    test::expectRenderMatches(*p, test::noise(48000 * 3, rate, 77), 256,
                              {
                                  { 0.0, 0, 1 }, { 0.0, 1, 133 }, { 0.0, 5, 0.05 }, { 0.0, 6, 0.6 }, { 0.0, 7, 0.2 },
                                  { 0.7, 8, 1 }, { 0.7, 9, 1.7 }, { 1.2, 4, 1 }, { 1.5, 9, 0.6 }, { 1.9, 2, 3 },
                                  { 2.2, 3, 16 }, { 2.5, 0, 0 }, { 2.6, 0, 1 },
                              },
                              false, reference);
}

TEST(RadedaModule, EventsApplyBeforeTheirBlock)
{
    // An event late in a block already affects the block's first sample.
    auto p = open();
    ASSERT_TRUE(p.instance);
    ASSERT_TRUE(p->activate(44100.0, 1, 512));
    ASSERT_TRUE(p->startProcessing());
    std::vector<float> inL(512, 0.5f), inR(512, -0.5f), outL(512), outR(512);
    const float* in[2] = { inL.data(), inR.data() };
    float* out[2] = { outL.data(), outR.data() };
    // A slice of 1/16 beat at 480 BPM is 344.53 samples: if the events, sent
    // with offsets late in the block, apply to the whole block, sample 400
    // repeats sample 55.
    for (size_t i = 0; i < 512; ++i) inL[i] = float(i);
    std::vector<host::ParamEvent> events = { { 1, 480, 500 }, { 2, 1, 500 }, { 3, 16, 500 }, { 0, 1, 511 } };
    p->process(in, out, 512, events, nullptr);
    EXPECT_EQ(outL[0], 0.0f);
    EXPECT_EQ(outL[400], inL[400 - 345]);
    p->stopProcessing();
    p->deactivate();
}
