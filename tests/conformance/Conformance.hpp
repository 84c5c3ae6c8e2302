// Shared pieces of the conformance suite: the table of modules, loading a
// plug-in through our host, guarded audio blocks, hand-made events and a
// capture of what the plug-in prints on standard error.
#pragma once

#include "quolva/events.h"
#include "quolva/instance.h"
#include "quolva/module.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace quolva::conformance {

using host::ParamEvent;

// One module under test and what it declares.
struct ModuleCase
{
    const char* name;        // also the test-name suffix
    const char* id;          // its only plug-in
    std::vector<std::string> features;
    std::vector<double> defaults;  // by parameter id
    // Settings that make the engine do real work, all within range.
    std::vector<ParamEvent> busy;
    // The framework-format state file of this module, and the values it holds.
    const char* stateFixture;
    std::vector<double> stateFixtureValues;
};

// gtest prints a case by its name.
inline void PrintTo(const ModuleCase& c, std::ostream* os) { *os << c.name; }

const std::vector<ModuleCase>& moduleCases();
// Where the module of that case is: command line, environment, or the build.
std::string modulePath(const ModuleCase& c);
// Folder of the fixture files.
std::string dataDir();
std::string caseName(const testing::TestParamInfo<ModuleCase>& info);

// A module loaded and one plug-in created and initialised from it, with the
// host's echo of problems and logs turned off (tests read them instead).
struct Plugin
{
    std::unique_ptr<host::Module> module;
    std::unique_ptr<host::Instance> instance;

    host::Instance* operator->() { return instance.get(); }
    host::Instance& operator*() { return *instance; }
    explicit operator bool() const { return instance != nullptr; }
};

Plugin openPlugin(const ModuleCase& c);

// Every parameter's value, in parameter order (-12345 where none is given).
std::vector<double> parameterValues(host::Instance& p);

// A random value within its range for every parameter.
std::vector<ParamEvent> randomInRange(host::Instance& p, std::mt19937& rng);

// The whole file; empty (with a failure recorded) when it cannot be read.
std::vector<uint8_t> readFile(const std::string& path);

// Parameterised over both modules.
class ModuleTest : public testing::TestWithParam<ModuleCase>
{
protected:
    Plugin open() const { return openPlugin(GetParam()); }
    uint32_t paramCount() const { return static_cast<uint32_t>(GetParam().defaults.size()); }
};

// Runs every test of `Suite` once per module.
#define QUOLVA_FOR_EACH_MODULE(Suite)                                                        \
    INSTANTIATE_TEST_SUITE_P(Modules, Suite, testing::ValuesIn(quolva::conformance::moduleCases()), \
                             quolva::conformance::caseName)

// ---- audio

// A stereo block of `frames` samples per channel (NaN until filled or
// written) followed by guard samples that the plug-in must never touch.
struct GuardedStereo
{
    static constexpr uint32_t kGuard = 64;
    static constexpr uint32_t kGuardBits = 0xFFC0FFEEu;  // a NaN no arithmetic produces

    uint32_t frames = 0;
    std::vector<float> ch[2];

    explicit GuardedStereo(uint32_t n);
    float* const* out();
    const float* const* in() const;
    // Fills the block (not the guards) with noise in [-0.8, 0.8], free of subnormals.
    void fillNoise(uint32_t seed);
    // Empty when every sample of the block is finite (and, when asked, not
    // subnormal) and every guard sample is untouched; otherwise what is wrong
    // and where.
    std::string defects(bool subnormalIsDefect = true) const;
    bool sameBlock(const GuardedStereo& o) const;

private:
    float* fOut[2] = {};
    mutable const float* fIn[2] = {};
};

// Activates and starts processing; false (with a failure recorded) otherwise.
bool startAudio(host::Instance& p, double rate, uint32_t maxFrames);

// ---- events

namespace events {
// Well-formed core events of each kind, for parameter `id`.
void paramValue(host::EventList& l, clap_id id, double value, uint32_t time = 0,
                uint16_t space = CLAP_CORE_EVENT_SPACE_ID);
// A parameter-value event whose size field is `size`.
void paramValueSized(host::EventList& l, clap_id id, double value, uint32_t size);
void paramMod(host::EventList& l, clap_id id, double amount);
void gesture(host::EventList& l, clap_id id, bool begin);
void transport(host::EventList& l);
void midi(host::EventList& l);
void midiSysex(host::EventList& l);
void midi2(host::EventList& l);
void note(host::EventList& l, uint16_t type);
void noteExpression(host::EventList& l);
void unknownType(host::EventList& l);
} // namespace events

// ---- standard error

// Sends standard error (file descriptor 2) to a temporary file from
// construction until text(), which restores it and returns what was written.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    std::string text();

    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

private:
    std::FILE* fFile = nullptr;
    int fSaved = -1;
    bool fDone = false;
};

} // namespace quolva::conformance
