// What a host learns before processing: descriptors, creation, ports; and
// a check of the standard-error capture the other tests rely on.
#include "Conformance.hpp"

#include "clap/ext/audio-ports.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

using namespace quolva;
using namespace quolva::conformance;

namespace {

class Descriptor : public ModuleTest {};
QUOLVA_FOR_EACH_MODULE(Descriptor);

std::string text(const char* s) { return s != nullptr ? s : "(null)"; }

std::vector<std::string> featureList(const clap_plugin_descriptor_t* d)
{
    std::vector<std::string> out;
    if (d->features != nullptr)
        for (const char* const* f = d->features; *f != nullptr; ++f)
            out.emplace_back(*f);
    return out;
}

} // namespace

TEST_P(Descriptor, FactoryAndInstanceAgree)
{
    auto p = open();
    ASSERT_TRUE(p);
    ASSERT_EQ(p.module->pluginCount(), 1u);
    const clap_plugin_descriptor_t* fromFactory = p.module->descriptor(0);
    const clap_plugin_descriptor_t* fromInstance = p->plugin()->desc;
    ASSERT_NE(fromFactory, nullptr);
    ASSERT_NE(fromInstance, nullptr);
    EXPECT_TRUE(host::descriptorProblems(fromFactory).empty()) << host::descriptorProblems(fromFactory).front();

    EXPECT_EQ(text(fromFactory->id), GetParam().id);
    EXPECT_TRUE(clap_version_is_compatible(fromInstance->clap_version));
    EXPECT_EQ(host::versionString(fromFactory->clap_version), host::versionString(fromInstance->clap_version));
    const std::pair<const char*, const char*> fields[] = {
        { fromFactory->id, fromInstance->id },
        { fromFactory->name, fromInstance->name },
        { fromFactory->vendor, fromInstance->vendor },
        { fromFactory->url, fromInstance->url },
        { fromFactory->manual_url, fromInstance->manual_url },
        { fromFactory->support_url, fromInstance->support_url },
        { fromFactory->version, fromInstance->version },
        { fromFactory->description, fromInstance->description },
    };
    for (const auto& [a, b] : fields)
        EXPECT_EQ(text(a), text(b));
    EXPECT_EQ(featureList(fromFactory), featureList(fromInstance));
}

TEST_P(Descriptor, FeaturesAreDeclaredOnceEach)
{
    auto p = open();
    ASSERT_TRUE(p);
    const std::vector<std::string> features = featureList(p.module->descriptor(0));
    EXPECT_EQ(features, GetParam().features);
    EXPECT_NE(std::find(features.begin(), features.end(), CLAP_PLUGIN_FEATURE_AUDIO_EFFECT), features.end());
    const std::set<std::string> unique(features.begin(), features.end());
    EXPECT_EQ(unique.size(), features.size()) << "a feature is listed twice";
    for (const std::string& f : features)
        EXPECT_FALSE(f.empty());
}

TEST_P(Descriptor, CreationNeedsTheExactId)
{
    auto p = open();
    ASSERT_TRUE(p);
    const clap_plugin_factory_t* factory = p.module->factory();
    const std::string id = GetParam().id;
    std::string upperId = id;
    std::transform(upperId.begin(), upperId.end(), upperId.begin(), [](char c) { return char(std::toupper(c)); });
    const std::string other = id == moduleCases()[0].id ? moduleCases()[1].id : moduleCases()[0].id;

    const std::pair<const char*, std::string> wrong[] = {
        { "empty", "" },
        { "trailing garbage", id + "garbage" },
        { "trailing space", id + " " },
        { "trailing dot", id + "." },
        { "one character short", id.substr(0, id.size() - 1) },
        { "prefix only", id.substr(0, id.rfind('.')) },
        { "other case", upperId },
        { "the other module's plug-in", other },
    };
    for (const auto& [what, candidate] : wrong)
    {
        const clap_plugin_t* made = factory->create_plugin(factory, p->host(), candidate.c_str());
        EXPECT_EQ(made, nullptr) << what << ": \"" << candidate << "\" created a plug-in";
        if (made != nullptr)
            made->destroy(made);
    }
    EXPECT_EQ(factory->create_plugin(factory, p->host(), nullptr), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, nullptr, id.c_str()), nullptr);

    // The exact id still works.
    const clap_plugin_t* made = factory->create_plugin(factory, p->host(), id.c_str());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(text(made->desc->id), id);
    made->destroy(made);
}

TEST_P(Descriptor, OneStereoPortEachWayWithItsType)
{
    auto p = open();
    ASSERT_TRUE(p);
    for (bool input : { true, false })
    {
        SCOPED_TRACE(input ? "input" : "output");
        const auto ports = p->audioPorts(input);
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].channels, 2u);
        EXPECT_TRUE(ports[0].flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_TRUE(ports[0].hasPortType);
        EXPECT_EQ(ports[0].portType, CLAP_PORT_STEREO);
    }
    // The host found nothing wrong while scanning parameters and ports at init.
    EXPECT_TRUE(p->problems().empty()) << p->problems().front();
}

// The quiet-audio-thread checks rely on this capture: what goes to standard
// error while it is active must show up in it.
TEST(StderrCaptureCheck, SeesWhatIsPrintedWhileActive)
{
    StderrCapture capture;
    std::fprintf(stderr, "assertion text\n");
    EXPECT_EQ(capture.text(), "assertion text\n");
}
