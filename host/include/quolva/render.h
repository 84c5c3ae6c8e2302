#pragma once

// Offline rendering of a whole buffer through an Instance, block by block.

#include <cstdint>
#include <string>
#include <vector>

#include "quolva/audio_buffer.h"
#include "quolva/instance.h"

namespace quolva::host {

// A parameter change at a point of the input: at `frame` when it is >= 0, else at
// round(seconds * sampleRate).
struct TimedParamChange {
    clap_id id = CLAP_INVALID_ID;
    double value = 0.0;
    double seconds = 0.0;
    int64_t frame = -1;

    static TimedParamChange atSeconds(clap_id id, double value, double seconds)
    {
        return {id, value, seconds, -1};
    }
    static TimedParamChange atFrame(clap_id id, double value, int64_t frame)
    {
        return {id, value, 0.0, frame};
    }
};

// Activates `instance` at `sampleRate` with blocks of at most `blockSize` frames,
// processes all of `input` and deactivates again; `output` gets the same length and
// `sampleRate`. Each change is delivered as a param-value event in the block that
// contains its frame, with `time` = offset inside that block; changes at one frame
// keep the order given. With `inPlace` the plug-in gets the same buffers as input
// and output. The instance must be initialised. Returns false with a reason in
// `error` (when given) if the render cannot be done (a change beyond the end, the
// plug-in refusing to activate, ...); problems of the plug-in during processing are
// recorded on the instance and do not stop the render.
bool render(Instance& instance, const AudioBuffer& input, double sampleRate, uint32_t blockSize,
            const std::vector<TimedParamChange>& changes, AudioBuffer& output,
            bool inPlace = false, std::string* error = nullptr);

} // namespace quolva::host
