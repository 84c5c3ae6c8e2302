#include <string>

#include <gtest/gtest.h>

#include "quolva/host.h"

#include "fake_control.h"
#include "fake_fixture.h"

namespace quolva::host::test {
namespace {

using StateTest = FakeFixture;

// Streams must honour the chunk limit in both directions, and whatever limit is
// used the plug-in must get back exactly the values it saved.
TEST_F(StateTest, RoundTripWithChunkedStreams)
{
    for (size_t chunk : {size_t(1), size_t(7), size_t(0)}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        auto source = newInstance();
        ASSERT_TRUE(source);
        ASSERT_TRUE(source->flush({{kFakeGainParam, 0.3, 0}, {kFakeMuteParam, 1.0, 0}}));

        std::vector<uint8_t> data;
        ASSERT_TRUE(source->saveState(data, chunk)) << source->lastError();
        ASSERT_GT(data.size(), 20u);
        const FakeStats saved = statsOf(*source);
        if (chunk) {
            EXPECT_LE(saved.largestWrite, chunk);
            EXPECT_EQ(saved.stateWriteCalls, (data.size() + chunk - 1) / chunk);
        } else {
            EXPECT_EQ(saved.stateWriteCalls, 1u);
        }

        auto target = newInstance();
        ASSERT_TRUE(target);
        EXPECT_EQ(target->getValue(kFakeGainParam), 1.0);
        ASSERT_TRUE(target->loadState(data, chunk)) << target->lastError();
        EXPECT_EQ(target->getValue(kFakeGainParam), 0.3);
        EXPECT_EQ(target->getValue(kFakeMuteParam), 1.0);
        const FakeStats loaded = statsOf(*target);
        if (chunk) {
            EXPECT_LE(loaded.largestRead, chunk);
        }
        EXPECT_GT(loaded.stateReadCalls, chunk ? data.size() / chunk : 1u) << "the plug-in read until the end";

        std::vector<uint8_t> again;
        ASSERT_TRUE(target->saveState(again));
        EXPECT_EQ(again, data);
    }
}

TEST_F(StateTest, RefusalsAreReturnedAsFalseWithAReason)
{
    const std::string junk = "not a fake state";
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"junk", std::vector<uint8_t>(junk.begin(), junk.end())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(inst->loadState(c.data, 3));
        EXPECT_NE(inst->lastError().find("refused"), std::string::npos);
    }
    EXPECT_EQ(inst->getValue(kFakeGainParam), 1.0);

    control->setFaults(inst->plugin(), kFaultRefuseState);
    std::vector<uint8_t> data = {1, 2, 3};
    EXPECT_FALSE(inst->saveState(data));
    EXPECT_NE(inst->lastError().find("refused"), std::string::npos);
    EXPECT_TRUE(data.empty());
}

TEST_F(StateTest, PluginRescanAfterLoadIsRecorded)
{
    std::vector<uint8_t> data;
    ASSERT_TRUE(inst->saveState(data));
    EXPECT_TRUE(inst->hostCalls().paramsRescanFlags.empty());
    ASSERT_TRUE(inst->loadState(data));
    EXPECT_EQ(inst->hostCalls().paramsRescanFlags, std::vector<uint32_t>{CLAP_PARAM_RESCAN_VALUES});
    EXPECT_TRUE(inst->problems().empty()) << joinedForMessage(inst->problems());
}

} // namespace
} // namespace quolva::host::test
