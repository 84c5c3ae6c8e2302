// The framework's plug-in code, compiled with its CLAP entry under another name
// and not exported, so that ClapBoundary.cpp can export the real `clap_entry`
// in front of it.
// The CLAP headers must not mark the renamed entry for export either.
#define CLAP_EXPORT
#include "src/DistrhoDefines.h"

#undef DISTRHO_PLUGIN_EXPORT
#define DISTRHO_PLUGIN_EXPORT extern "C"

#define clap_entry quolva_framework_clap_entry
#include "DistrhoPluginMain.cpp"
#undef clap_entry
