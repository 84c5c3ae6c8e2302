#pragma once

// Everything of the host library in one include.

#include "quolva/audio_buffer.h"
#include "quolva/clap_log.h"
#include "quolva/events.h"
#include "quolva/describe.h"
#include "quolva/instance.h"
#include "quolva/json.h"
#include "quolva/module.h"
#include "quolva/render.h"
