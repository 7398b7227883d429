#include "archive/ChunkPipeline.h"

#include <algorithm>

namespace corvane {

ChunkPipeline::ChunkPipeline(int workers, int maxInFlight) : maxInFlight_(std::max(1, maxInFlight)) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { WorkerLoop(); });
}

ChunkPipeline::~ChunkPipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    workReady_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void ChunkPipeline::Submit(std::function<void()> work, std::function<void()> then) {
    if (threads_.empty()) {
        if (work) work();
        then();
        return;
    }
    auto step = std::make_shared<Step>();
    step->then = std::move(then);
    if (work) {
        step->work = std::move(work);
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(step);
            wake = idleWorkers_ > 0;
        }
        if (wake) workReady_.notify_one();
    } else {
        step->done = true;  // nothing to wait for: only its place in the order matters
    }
    inFlight_.push_back(std::move(step));
    Complete(false);
    if (static_cast<int>(inFlight_.size()) >= maxInFlight_) WaitForRoom();
}

void ChunkPipeline::WaitForRoom() {
    const std::size_t keep = static_cast<std::size_t>(maxInFlight_) / 2;
    while (inFlight_.size() > keep) {
        const std::size_t end = inFlight_.size() - keep;
        {
            std::unique_lock lock(mutex_);
            // The newest unfinished step of the older part: the workers take steps in order,
            // so once it is done the ones before it are done or nearly so.
            for (std::size_t i = end; i-- > 0;) {
                if (inFlight_[i]->done) continue;
                Await(lock, *inFlight_[i]);
                break;
            }
        }
        Complete(false);
    }
}

void ChunkPipeline::Await(std::unique_lock<std::mutex>& lock, const Step& step) {
    awaited_ = &step;
    stepDone_.wait(lock, [&] { return step.done; });
    awaited_ = nullptr;
}

void ChunkPipeline::Drain() {
    while (!inFlight_.empty()) Complete(true);
}

void ChunkPipeline::Complete(bool wait) {
    while (!inFlight_.empty()) {
        std::shared_ptr<Step> head = inFlight_.front();
        {
            std::unique_lock lock(mutex_);
            if (wait && !head->done) Await(lock, *head);
            if (!head->done) return;
        }
        inFlight_.pop_front();
        head->then();
        wait = false;
    }
}

void ChunkPipeline::WorkerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        workReady_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        --idleWorkers_;
        if (stopping_) return;
        std::shared_ptr<Step> step = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        step->work();
        lock.lock();
        step->done = true;
        if (awaited_ == step.get()) stepDone_.notify_one();
    }
}

}  // namespace corvane
