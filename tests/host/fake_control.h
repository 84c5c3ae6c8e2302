#pragma once

// The test-only extension of the fake plug-in (fake_plugin.cpp): lets the host
// tests switch on deliberate faults, queue output events and read back what the
// plug-in received and saw.

#include <cstdint>

#include "clap/plugin.h"

inline constexpr char kFakeGainId[] = "org.quolva.test.gain";
// Same behaviour, but a descriptor with null optional fields and ports without port_type.
inline constexpr char kFakeSparseId[] = "org.quolva.test.sparse";
inline constexpr char kFakeControlExt[] = "org.quolva.test.control";

inline constexpr uint32_t kFakeGainParam = 10; // "Gain", module "Main", 0..2, default 1
inline constexpr uint32_t kFakeMuteParam = 20; // "Mute", stepped, 0..1, default 0

enum FakeFault : uint32_t {
    kFaultLeaveLastFrame = 1u << 0,   // process leaves the last frame of the left output unwritten
    kFaultWriteNaN = 1u << 1,         // process writes NaN into frame 0 of the left output
    kFaultReturnError = 1u << 2,      // process returns CLAP_PROCESS_ERROR
    kFaultRescanFromAudio = 1u << 3,  // process calls clap.params rescan (a main-thread call)
    kFaultLogWarning = 1u << 4,       // process logs a warning through clap.log
    kFaultBadEventSize = 1u << 5,     // process pushes a param-value event with a short size
    kFaultWriteInput = 1u << 6,       // process scribbles on its input buffer
    kFaultUnknownParamEvent = 1u << 7, // process reports a value for parameter id 999
    kFaultRefuseState = 1u << 8,      // state save and load fail
};

// One event as the plug-in received it.
struct FakeReceived {
    int64_t steadyTime; // of the process call; -1 for a flush
    uint32_t blockFrames;
    uint32_t time;
    uint16_t spaceId;
    uint16_t type;
    uint32_t paramId; // for parameter events, else CLAP_INVALID_ID
    double value;
};

struct FakeBlock {
    int64_t steadyTime;
    uint32_t frames;
    uint32_t eventCount;
};

struct FakeStats {
    uint32_t processCalls;
    uint32_t flushCalls;
    uint32_t flushesOnAudioThread; // flushes during which is_audio_thread said yes
    uint32_t timerFires;
    uint32_t mainThreadCallbacks;
    uint32_t stateWriteCalls;
    uint32_t stateReadCalls;
    uint64_t largestWrite; // largest count a single write call accepted
    uint64_t largestRead;  // largest count a single read call delivered
    // Calls that found clap.thread-check answering wrongly for where the plug-in
    // knows it is (process, start/stop_processing: audio; init, activate, state,
    // timers, on_main_thread: main).
    uint32_t threadCheckFailures;
    uint32_t threadChecks;
    uint32_t entryInits; // clap_entry.init calls since the module was loaded
    uint32_t entryDeinits;
};

struct FakeControl {
    void (*setFaults)(const clap_plugin_t* plugin, uint32_t faults);
    // Pushed as a param-value event at the start of the next process or flush.
    void (*queueOutput)(const clap_plugin_t* plugin, uint32_t paramId, double value, uint32_t time);
    // Asks the host for an on_main_thread call.
    void (*requestCallback)(const clap_plugin_t* plugin);
    uint32_t (*receivedCount)(const clap_plugin_t* plugin);
    bool (*received)(const clap_plugin_t* plugin, uint32_t index, FakeReceived* out);
    uint32_t (*blockCount)(const clap_plugin_t* plugin);
    bool (*block)(const clap_plugin_t* plugin, uint32_t index, FakeBlock* out);
    void (*stats)(const clap_plugin_t* plugin, FakeStats* out);
};
