#include "audio_thread.h"

namespace quolva::host {

AudioThread::AudioThread()
    : thread_([this] { loop(); })
{
}

AudioThread::~AudioThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void AudioThread::runJob(void (*job)(void*), void* ctx)
{
    if (std::this_thread::get_id() == thread_.get_id()) {
        job(ctx); // already on the audio thread (a nested call)
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return job_ == nullptr; }); // one job at a time
    job_ = job;
    ctx_ = ctx;
    wake_.notify_one();
    done_.wait(lock, [this] { return job_ == nullptr; });
}

void AudioThread::loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
        if (job_ == nullptr)
            return; // quit with nothing left to do
        void (*job)(void*) = job_;
        void* ctx = ctx_;
        lock.unlock();
        job(ctx);
        lock.lock();
        job_ = nullptr;
        ctx_ = nullptr;
        done_.notify_all();
    }
}

} // namespace quolva::host
