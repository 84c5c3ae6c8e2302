#pragma once

// A thread that runs one job at a time on request while the caller waits: the
// host's audio thread. Keeping the caller blocked makes every call synchronous
// and the results deterministic, while the plug-in still sees its audio-thread
// calls arrive on a thread other than the main thread.

#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>

namespace quolva::host {

class AudioThread {
public:
    AudioThread();
    ~AudioThread();

    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    // Runs `fn()` on the audio thread and returns when it has finished.
    template <typename F> void run(F&& fn)
    {
        runJob(
            [](void* ctx) { (*static_cast<std::remove_reference_t<F>*>(ctx))(); },
            static_cast<void*>(&fn));
    }

    std::thread::id id() const { return thread_.get_id(); }

private:
    void runJob(void (*job)(void*), void* ctx);
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    void (*job_)(void*) = nullptr;
    void* ctx_ = nullptr;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace quolva::host
