// Opening and closing an editor again and again in one process: every editor
// gets its window, timer and drawing, and closing gives everything back.
#include "EditorFixture.hpp"

#include <string>

namespace {

using quolva::host::Image;
using namespace quolva::test;

struct Module
{
    const char* name;
    const char* path;
    uint32_t param; // a parameter the host changes while the editor is open
    double value;
};

class EditorLifecycle : public ::testing::TestWithParam<Module> {};

// Bright pixels of the title, which both editors draw in white near the top.
int titleInk(const Image& shot, double s)
{
    int n = 0;
    for (int y = static_cast<int>(40 * s); y < static_cast<int>(85 * s); ++y)
        for (int x = static_cast<int>(240 * s); x < static_cast<int>(560 * s); ++x)
            n += luminance(shot.at(x, y)) >= 200 ? 1 : 0;
    return n;
}

TEST_P(EditorLifecycle, OpensAndClosesTenTimes)
{
    const Module& m = GetParam();
    std::string error;
    auto module = quolva::host::Module::load(m.path, error);
    ASSERT_TRUE(module) << error;
    quolva::host::InstanceOptions options;
    options.echoLogs = false;
    auto instance = quolva::host::Instance::create(*module, module->pluginIds().front(), error, options);
    ASSERT_TRUE(instance) << error;
    auto editor = std::make_unique<quolva::host::Editor>(*instance);
    ASSERT_TRUE(instance->init());
    ASSERT_TRUE(instance->activate(48000.0, 32, 256));
    ASSERT_TRUE(instance->startProcessing());

    const size_t windowsBefore = topLevelWindowCount();
    size_t filesAfterSecond = 0;
    for (int cycle = 1; cycle <= 10; ++cycle)
    {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const double s = cycle % 2 ? 1.0 : 2.0;
        ASSERT_TRUE(editor->open(s)) << editor->lastError();
        EXPECT_EQ(editor->width(), static_cast<uint32_t>(800 * s));
        EXPECT_NE(editor->editorWindow(), 0u);
        EXPECT_EQ(instance->timers().size(), 1u) << "the editor runs on one timer while open";
        EXPECT_EQ(topLevelWindowCount(), windowsBefore + 1);

        editor->setParam(m.param, m.value * cycle / 10.0);
        int ink = 0;
        for (int i = 0; i < 300 && ink < 500; ++i)
        {
            editor->tick();
            ink = titleInk(editor->screenshot(), s);
        }
        EXPECT_GE(ink, 500) << "the editor drew no title";

        editor->close();
        EXPECT_FALSE(editor->isOpen());
        EXPECT_TRUE(instance->timers().empty()) << "closing the editor leaves its timer registered";
        EXPECT_EQ(topLevelWindowCount(), windowsBefore);
        // Each editor opens its own display connection; closing must give it back.
        if (cycle == 2)
        {
            filesAfterSecond = openFileCount();
        }
        else if (cycle > 2)
        {
            EXPECT_EQ(openFileCount(), filesAfterSecond);
        }
    }
    const auto calls = instance->hostCalls();
    EXPECT_EQ(calls.timersRegistered, 10u);
    EXPECT_EQ(calls.timersUnregistered, 10u);
    EXPECT_EQ(editor->guiCalls().resizeHintsChanged, 10u);
    EXPECT_EQ(editor->guiCalls().closed, 0u);
    EXPECT_TRUE(instance->problems().empty()) << instance->problems().front();

    editor.reset();
    instance.reset();
}

INSTANTIATE_TEST_SUITE_P(Modules, EditorLifecycle,
                         ::testing::Values(Module { "Radeda", RADEDA_CLAP_PATH, 1, 480 },
                                           Module { "Zivaz", ZIVAZ_CLAP_PATH, 0, 16 }),
                         [](const ::testing::TestParamInfo<Module>& info) { return std::string(info.param.name); });

} // namespace
