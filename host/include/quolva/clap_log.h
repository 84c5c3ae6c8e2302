#pragma once

// The host side of the `clap.log` extension. The copy of the CLAP 1.1 headers that
// ships with the framework leaves this header out, so the host declares the
// (stable, tiny) ABI itself, in its own namespace so it cannot clash with an
// official header included elsewhere.

#include <cstdint>

#include "clap/host.h"

namespace quolva::host {

inline constexpr char kClapExtLog[] = "clap.log";

enum LogSeverity : int32_t {
    kLogDebug = 0,
    kLogInfo = 1,
    kLogWarning = 2,
    kLogError = 3,
    kLogFatal = 4,
    // The plug-in reports that the host broke a rule.
    kLogHostMisbehaving = 5,
    // The host reports that the plug-in broke a rule (the host never receives this
    // from a well-behaved plug-in).
    kLogPluginMisbehaving = 6,
};

struct ClapHostLog {
    void(CLAP_ABI* log)(const clap_host_t* host, int32_t severity, const char* message);
};

// "debug", "info", "warning", ... ; "severity N" for values outside the enum.
const char* logSeverityName(int32_t severity);

} // namespace quolva::host
