// Broken CLAP modules, one fault per build (selected by a definition), for the
// host's module-loading tests.
//   BAD_NO_ENTRY    exports no clap_entry at all
//   BAD_VERSION     clap_entry declares CLAP 0.9.0
//   BAD_INIT        clap_entry.init fails
//   BAD_NO_FACTORY  get_factory knows no plug-in factory

#include <cstring>

#include "clap/entry.h"
#include "clap/plugin-factory.h"

#ifdef BAD_NO_ENTRY

extern "C" {
CLAP_EXPORT int quolva_not_a_clap_module = 1;
}

#else

namespace {

#ifdef BAD_VERSION
constexpr clap_version_t kVersion = {0, 9, 0};
#else
constexpr clap_version_t kVersion = CLAP_VERSION_INIT;
#endif

bool CLAP_ABI entryInit(const char*)
{
#ifdef BAD_INIT
    return false;
#else
    return true;
#endif
}

void CLAP_ABI entryDeinit() {}

const void* CLAP_ABI entryGetFactory(const char*)
{
    return nullptr; // no module built from this file offers plug-ins
}

} // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {kVersion, entryInit, entryDeinit, entryGetFactory};

#endif
