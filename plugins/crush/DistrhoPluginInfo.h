// Framework configuration of the Zivaz module.
#ifndef DISTRHO_PLUGIN_INFO_H_INCLUDED
#define DISTRHO_PLUGIN_INFO_H_INCLUDED

#define DISTRHO_PLUGIN_BRAND "Quolvan"
#define DISTRHO_PLUGIN_NAME  "Quolvan Zivaz"
#define DISTRHO_PLUGIN_URI   "urn:quolvan:crush"
#define DISTRHO_PLUGIN_CLAP_ID "org.quolvan.quolvan.crush"
#define DISTRHO_PLUGIN_UNIQUE_ID qCrs
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "utility", "stereo"

#define DISTRHO_PLUGIN_NUM_INPUTS  2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2

#ifdef QUOLVA_NO_EDITOR
#define DISTRHO_PLUGIN_HAS_UI        0
#else
#define DISTRHO_PLUGIN_HAS_UI        1
#endif
#define DISTRHO_UI_USE_NANOVG        1
#define DISTRHO_UI_DEFAULT_WIDTH     800
#define DISTRHO_UI_DEFAULT_HEIGHT    600
#define DISTRHO_UI_USER_RESIZABLE    0

#define DISTRHO_PLUGIN_IS_SYNTH             0
#define DISTRHO_PLUGIN_WANT_MIDI_INPUT      0
#define DISTRHO_PLUGIN_WANT_MIDI_OUTPUT     0
#define DISTRHO_PLUGIN_WANT_TIMEPOS         0
#define DISTRHO_PLUGIN_WANT_LATENCY         0
#define DISTRHO_PLUGIN_WANT_PROGRAMS        0
#define DISTRHO_PLUGIN_WANT_FULL_STATE      0
// With this framework version the CLAP wrapper offers the state extension only
// when state is wanted; we declare no states of our own, so the saved state is
// exactly the six parameter values under their symbols.
#define DISTRHO_PLUGIN_WANT_STATE           1

#endif
