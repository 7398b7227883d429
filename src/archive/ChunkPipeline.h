#pragma once
// Overlaps reading, compressing and writing: each step's work (compressing a batch of
// pieces) runs on a worker thread while the caller reads on, and the step's completion
// (writing the chunks) runs back on the caller's thread, strictly in submission order. At
// most a fixed number of steps are in flight, so memory stays bounded whatever the file sizes.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane {

class ChunkPipeline {
public:
    // workers 0 runs every step at once on the caller's thread.
    ChunkPipeline(int workers, int maxInFlight);
    // Steps whose completions have not run are dropped: call Drain first to finish them.
    ~ChunkPipeline();
    ChunkPipeline(const ChunkPipeline&) = delete;
    ChunkPipeline& operator=(const ChunkPipeline&) = delete;

    // work (may be empty) runs on a worker; then runs on this thread after the completions of
    // every earlier step, from inside Submit or Drain. Blocks while the pipeline is full.
    void Submit(std::function<void()> work, std::function<void()> then);
    // A step with nothing to do on a worker: then only keeps its place in the order.
    void Then(std::function<void()> then) { Submit({}, std::move(then)); }
    // Waits for every step and runs the completions still due.
    void Drain();

private:
    struct Step {
        std::function<void()> work;
        std::function<void()> then;
        bool done = false;  // guarded by mutex_
    };

    void WorkerLoop();
    // Runs the completions of finished steps at the head; with wait, first waits for the head.
    void Complete(bool wait);
    // With the pipeline full, waits until its older half is done and runs those completions:
    // the caller is woken once per half rather than once per step.
    void WaitForRoom();
    // Waits, under lock, until a worker has finished step.
    void Await(std::unique_lock<std::mutex>& lock, const Step& step);

    const int maxInFlight_;
    std::deque<std::shared_ptr<Step>> inFlight_;  // caller's thread only
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable stepDone_;
    std::deque<std::shared_ptr<Step>> queue_;  // guarded by mutex_
    bool stopping_ = false;                    // guarded by mutex_
    int idleWorkers_ = 0;                      // guarded by mutex_: workers waiting for a step
    const Step* awaited_ = nullptr;            // guarded by mutex_: the step the caller waits for
    std::vector<std::thread> threads_;
};

}  // namespace corvane
