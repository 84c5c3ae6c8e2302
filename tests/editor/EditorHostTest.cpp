// The host's editor support on its own: refusals, the order of open and close,
// and host changes while the plug-in is not processing.
#include "EditorFixture.hpp"

#include <cstdlib>
#include <string>

namespace {

using namespace quolva;

struct Loaded
{
    std::unique_ptr<host::Module> module;
    std::unique_ptr<host::Instance> instance;

    explicit Loaded(const std::string& path)
    {
        std::string error;
        module = host::Module::load(path, error);
        EXPECT_TRUE(module) << error;
        if (!module)
            return;
        host::InstanceOptions options;
        options.echoLogs = false;
        instance = host::Instance::create(*module, module->pluginIds().front(), error, options);
        EXPECT_TRUE(instance) << error;
    }
};

#ifdef QUOLVA_FAKE_PLUGIN
TEST(EditorHost, RefusesAPlugInWithoutAnEditor)
{
    Loaded p(QUOLVA_FAKE_PLUGIN);
    ASSERT_TRUE(p.instance);
    host::Editor editor(*p.instance);
    ASSERT_TRUE(p.instance->init());
    EXPECT_FALSE(editor.open(1.0));
    EXPECT_NE(editor.lastError().find("clap.gui"), std::string::npos) << editor.lastError();
    EXPECT_FALSE(editor.isOpen());
    EXPECT_TRUE(editor.tick().empty());
    EXPECT_TRUE(editor.screenshot().empty());
}
#endif

// Without a display the editor is never created: the framework's editor would
// crash the process.
TEST(EditorHost, FailsCleanlyWithoutADisplay)
{
    Loaded p(RADEDA_CLAP_PATH);
    ASSERT_TRUE(p.instance);
    host::Editor editor(*p.instance);
    ASSERT_TRUE(p.instance->init());
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":4711", 1);
    const bool opened = editor.open(1.0);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_FALSE(opened);
    EXPECT_NE(editor.lastError().find("X display"), std::string::npos) << editor.lastError();
    EXPECT_EQ(editor.guiCalls().resizeHintsChanged, 0u) << "the plug-in's editor was created";
    EXPECT_TRUE(p.instance->timers().empty());
    // With the display back, it opens.
    EXPECT_TRUE(editor.open(1.0)) << editor.lastError();
}

TEST(EditorHost, OpensOnceAndClosesCompletely)
{
    Loaded p(ZIVAZ_CLAP_PATH);
    ASSERT_TRUE(p.instance);
    host::Editor editor(*p.instance);
    ASSERT_TRUE(p.instance->init());
    ASSERT_TRUE(editor.open(1.0)) << editor.lastError();
    EXPECT_FALSE(editor.open(1.0));
    EXPECT_NE(editor.lastError().find("already open"), std::string::npos) << editor.lastError();
    EXPECT_TRUE(editor.isOpen());
    EXPECT_NE(editor.window(), 0u);
    EXPECT_NE(editor.editorWindow(), 0u);
    EXPECT_NE(editor.editorWindow(), editor.window());

    editor.close();
    EXPECT_FALSE(editor.isOpen());
    EXPECT_EQ(editor.window(), 0u);
    EXPECT_EQ(editor.editorWindow(), 0u);
    EXPECT_TRUE(editor.screenshot().empty());
    EXPECT_TRUE(p.instance->timers().empty());
    editor.close(); // closing twice is harmless
    EXPECT_TRUE(p.instance->problems().empty()) << p.instance->problems().front();
}

// While the plug-in is not processing, host changes go through params.flush and
// still reach the plug-in and the editor.
TEST(EditorHost, FlushesHostChangesWhileNotProcessing)
{
    Loaded p(RADEDA_CLAP_PATH);
    ASSERT_TRUE(p.instance);
    host::Editor editor(*p.instance);
    ASSERT_TRUE(p.instance->init());
    ASSERT_TRUE(editor.open(1.0)) << editor.lastError();
    editor.setParam(1, 321); // BPM
    editor.tick();
    EXPECT_EQ(p.instance->getValue(1).value_or(0), 321);

    // BPM's left digit now shows 3: segments a, b, c, d and g lit, e and f dark.
    const auto lit = [](const host::Image& shot, double x, double y) {
        const host::Rgba c = shot.at(static_cast<int64_t>(191 + x), static_cast<int64_t>(166 + y));
        return c.r >= 140 && c.g <= 90 && c.b <= 90;
    };
    bool shows3 = false;
    for (int i = 0; i < 500 && !shows3; ++i)
    {
        editor.tick();
        const host::Image shot = editor.screenshot();
        shows3 = lit(shot, 20, 6) && lit(shot, 27, 16) && lit(shot, 25, 35) && lit(shot, 15, 45)
              && lit(shot, 18, 26) && !lit(shot, 8, 35) && !lit(shot, 10, 16);
    }
    EXPECT_TRUE(shows3);
}

} // namespace
