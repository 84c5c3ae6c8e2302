#include "quolva/render.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quolva::host {

namespace {

bool failWith(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool render(Instance& instance, const AudioBuffer& input, double sampleRate, uint32_t blockSize,
            const std::vector<TimedParamChange>& changes, AudioBuffer& output, bool inPlace,
            std::string* error)
{
    if (!instance.isInitialised())
        return failWith(error, "render needs an initialised instance");
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return failWith(error, "render needs a positive sample rate");
    if (blockSize == 0)
        return failWith(error, "render needs a block size of at least one frame");
    if (input.left.size() != input.right.size())
        return failWith(error, "input channels differ in length");
    const size_t total = input.frames();

    // Resolve every change to a frame, then order by frame; a stable sort keeps
    // the given order among changes at the same frame.
    std::vector<int64_t> frameOf(changes.size());
    for (size_t i = 0; i < changes.size(); ++i) {
        const TimedParamChange& c = changes[i];
        int64_t f = c.frame;
        if (f < 0) {
            if (!(c.seconds >= 0.0) || !std::isfinite(c.seconds))
                return failWith(error, "a parameter change has a negative or non-finite time");
            f = int64_t(std::llround(c.seconds * sampleRate));
        }
        if (uint64_t(f) >= total)
            return failWith(error, "a parameter change at frame " + std::to_string(f)
                                       + " lies beyond the input's " + std::to_string(total) + " frames");
        frameOf[i] = f;
    }
    std::vector<size_t> order(changes.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return frameOf[a] < frameOf[b]; });

    if (instance.isActive())
        instance.deactivate();
    if (!instance.activate(sampleRate, 1, blockSize))
        return failWith(error, instance.lastError());
    if (!instance.startProcessing()) {
        const std::string why = instance.lastError();
        instance.deactivate();
        return failWith(error, why);
    }

    output.sampleRate = sampleRate;
    output.resize(total);
    if (inPlace) {
        std::copy(input.left.begin(), input.left.end(), output.left.begin());
        std::copy(input.right.begin(), input.right.end(), output.right.begin());
    }

    size_t next = 0;
    std::vector<ParamEvent> events;
    for (size_t pos = 0; pos < total; pos += blockSize) {
        const uint32_t frames = uint32_t(std::min<size_t>(blockSize, total - pos));
        events.clear();
        while (next < order.size() && uint64_t(frameOf[order[next]]) < pos + frames) {
            const TimedParamChange& c = changes[order[next]];
            events.push_back({c.id, c.value, uint32_t(uint64_t(frameOf[order[next]]) - pos)});
            ++next;
        }
        float* out[2] = {output.left.data() + pos, output.right.data() + pos};
        const float* in[2];
        if (inPlace) {
            in[0] = out[0];
            in[1] = out[1];
        } else {
            in[0] = input.left.data() + pos;
            in[1] = input.right.data() + pos;
        }
        // A refused block is recorded as a problem on the instance; the render goes on.
        instance.process(in, out, frames, events, nullptr);
    }

    instance.stopProcessing();
    instance.deactivate();
    return true;
}

} // namespace quolva::host
