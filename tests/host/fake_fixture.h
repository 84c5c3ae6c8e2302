#pragma once

// Shared set-up for the host tests: the fake module loaded, one instance of it
// initialised, and readers for what the fake recorded.

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quolva/host.h"

#include "fake_control.h"

namespace quolva::host::test {

inline const char* fakeModulePath()
{
    return QUOLVA_FAKE_PLUGIN;
}

inline std::unique_ptr<Module> loadFakeModule()
{
    std::string error;
    auto m = Module::load(fakeModulePath(), error);
    EXPECT_TRUE(m) << error;
    return m;
}

// A stereo buffer whose samples are all different and non-zero, so a missing,
// shifted or swapped sample shows in a comparison.
inline AudioBuffer testSignal(size_t frames, double rate = 48000.0)
{
    AudioBuffer b;
    b.sampleRate = rate;
    b.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        b.left[i] = float(0.5 * std::sin(0.01 * double(i) + 0.1) + 0.001 * double(i % 7 + 1));
        b.right[i] = float(-0.4 * std::cos(0.013 * double(i)) - 0.002 * double(i % 5 + 1));
    }
    return b;
}

class FakeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = loadFakeModule();
        ASSERT_TRUE(module);
        open(kFakeGainId);
    }

    void TearDown() override
    {
        inst.reset();
        module.reset();
    }

    // Replaces the fixture's instance by a fresh, initialised one.
    void open(const char* id)
    {
        inst = newInstance(id);
        ASSERT_TRUE(inst);
        control = inst->pluginExtension<FakeControl>(kFakeControlExt);
        ASSERT_NE(control, nullptr);
    }

    std::unique_ptr<Instance> newInstance(const char* id = kFakeGainId)
    {
        std::string error;
        InstanceOptions quiet;
        quiet.echoProblems = false;
        quiet.echoLogs = false;
        auto i = Instance::create(*module, id, error, quiet);
        EXPECT_TRUE(i) << error;
        if (i) {
            EXPECT_TRUE(i->init()) << i->lastError();
        }
        return i;
    }

    static const FakeControl* controlOf(Instance& i)
    {
        return i.pluginExtension<FakeControl>(kFakeControlExt);
    }

    static FakeStats statsOf(Instance& i)
    {
        FakeStats s{};
        controlOf(i)->stats(i.plugin(), &s);
        return s;
    }

    static std::vector<FakeReceived> receivedOf(Instance& i)
    {
        std::vector<FakeReceived> out;
        const FakeControl* c = controlOf(i);
        const uint32_t n = c->receivedCount(i.plugin());
        for (uint32_t k = 0; k < n; ++k) {
            FakeReceived r{};
            c->received(i.plugin(), k, &r);
            out.push_back(r);
        }
        return out;
    }

    static std::vector<FakeBlock> blocksOf(Instance& i)
    {
        std::vector<FakeBlock> out;
        const FakeControl* c = controlOf(i);
        const uint32_t n = c->blockCount(i.plugin());
        for (uint32_t k = 0; k < n; ++k) {
            FakeBlock b{};
            c->block(i.plugin(), k, &b);
            out.push_back(b);
        }
        return out;
    }

    FakeStats stats() { return statsOf(*inst); }
    std::vector<FakeReceived> received() { return receivedOf(*inst); }
    std::vector<FakeBlock> blocks() { return blocksOf(*inst); }

    // Declared in this order so instances go before the module.
    std::unique_ptr<Module> module;
    std::unique_ptr<Instance> inst;
    const FakeControl* control = nullptr;
};

// A path for a scratch file or folder, unique per test (tests may run in parallel).
inline std::string scratchPath(const std::string& name)
{
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "quolva-host-" + t->test_suite_name() + "." + t->name() + "-" + name;
}

// For failure messages: all items on one line.
inline std::string joinedForMessage(const std::vector<std::string>& items)
{
    std::string out;
    for (const std::string& s : items)
        out += (out.empty() ? "" : " | ") + s;
    return out.empty() ? "(none)" : out;
}

inline bool anyContains(const std::vector<std::string>& items, const std::string& part)
{
    for (const std::string& s : items)
        if (s.find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace quolva::host::test
