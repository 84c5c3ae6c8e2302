#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "quolva/host.h"

#include "fake_control.h"
#include "fake_fixture.h"

namespace quolva::host::test {
namespace {

namespace fs = std::filesystem;

TEST(Module, LoadsFakeModuleAndListsItsPlugins)
{
    auto m = loadFakeModule();
    ASSERT_TRUE(m);
    EXPECT_TRUE(fs::path(m->path()).is_absolute());
    EXPECT_TRUE(clap_version_is_compatible(m->clapVersion()));
    ASSERT_EQ(m->pluginCount(), 2u);
    EXPECT_EQ(m->pluginIds(), (std::vector<std::string>{kFakeGainId, kFakeSparseId}));
    ASSERT_NE(m->descriptor(0), nullptr);
    EXPECT_STREQ(m->descriptor(0)->name, "Fake Gain");
    EXPECT_EQ(m->descriptor(2), nullptr);
    EXPECT_EQ(m->findDescriptor(kFakeSparseId), m->descriptor(1));
    EXPECT_EQ(m->findDescriptor("org.quolva.test.none"), nullptr);
}

// A bare file name must not send the loader searching its library path.
TEST(Module, RelativePathIsLoadedFromTheWorkingDirectory)
{
    const fs::path full = fakeModulePath();
    const fs::path before = fs::current_path();
    fs::current_path(full.parent_path());
    std::string error;
    auto m = Module::load(full.filename().string(), error);
    fs::current_path(before);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(fs::path(m->path()), full.lexically_normal());
}

TEST(Module, LoadFailuresAreExplained)
{
    const fs::path dir = scratchPath("dir");
    fs::create_directories(dir);
    const fs::path text = dir / "not-a-library.clap";
    std::ofstream(text) << "this is not a shared library\n";

    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {"", "no module path"},
        {(dir / "missing.clap").string(), "no such file"},
        {dir.string(), "is a directory"},
        {text.string(), "cannot load"},
        {QUOLVA_BAD_NO_ENTRY, "exports no clap_entry"},
        {QUOLVA_BAD_VERSION, "CLAP 0.9.0"},
        {QUOLVA_BAD_INIT, "init failed"},
        {QUOLVA_BAD_NO_FACTORY, "no usable plug-in factory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        auto m = Module::load(c.path, error);
        EXPECT_FALSE(m);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
    fs::remove_all(dir);
}

// Two Modules of one file share a single init; deinit waits for the last of them.
TEST(Module, SecondLoadOfTheSameFileSharesInitAndDeinit)
{
    auto first = loadFakeModule();
    auto second = loadFakeModule();
    ASSERT_TRUE(first && second);

    std::string error;
    auto probe = Instance::create(*second, kFakeGainId, error);
    ASSERT_TRUE(probe) << error;
    const auto* control = probe->pluginExtension<FakeControl>(kFakeControlExt);
    ASSERT_NE(control, nullptr);
    FakeStats s{};
    control->stats(probe->plugin(), &s);
    EXPECT_EQ(s.entryInits, 1u);
    EXPECT_EQ(s.entryDeinits, 0u);

    first.reset(); // the file stays in use by `second`
    control->stats(probe->plugin(), &s);
    EXPECT_EQ(s.entryInits, 1u);
    EXPECT_EQ(s.entryDeinits, 0u);
    probe.reset();
}

TEST(Module, DescriptorProblems)
{
    auto m = loadFakeModule();
    ASSERT_TRUE(m);
    EXPECT_TRUE(descriptorProblems(m->findDescriptor(kFakeGainId)).empty());

    const std::vector<std::string> sparse = descriptorProblems(m->findDescriptor(kFakeSparseId));
    for (const char* field : {"vendor", "url", "manual_url", "support_url", "version", "description"})
        EXPECT_TRUE(anyContains(sparse, std::string("descriptor ") + field + " is null")) << field;
    EXPECT_TRUE(anyContains(sparse, "features list is null"));
    EXPECT_FALSE(anyContains(sparse, "descriptor id"));
    EXPECT_FALSE(anyContains(sparse, "descriptor name"));

    clap_plugin_descriptor_t broken{};
    broken.clap_version = {0, 1, 0};
    broken.name = "";
    const std::vector<std::string> p = descriptorProblems(&broken);
    EXPECT_TRUE(anyContains(p, "incompatible CLAP version 0.1.0"));
    EXPECT_TRUE(anyContains(p, "descriptor id is null"));
    EXPECT_TRUE(anyContains(p, "descriptor name is empty"));

    EXPECT_EQ(descriptorProblems(nullptr), std::vector<std::string>{"plug-in descriptor is null"});
}

} // namespace
} // namespace quolva::host::test
