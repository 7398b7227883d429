// The pipeline that compresses on worker threads: completions come back in submission order
// whatever order the work finishes in, and no more steps are in flight than its budget.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "archive/ChunkPipeline.h"

namespace corvane {
namespace {

TEST(ChunkPipeline, CompletesInOrderWithinItsBudget) {
    for (int workers : {0, 1, 3}) {
        SCOPED_TRACE(workers);
        constexpr int kBudget = 4;
        ChunkPipeline pipeline(workers, kBudget);
        std::mt19937 random(7);
        std::vector<int> completed;
        int inFlight = 0, mostInFlight = 0;
        for (int i = 0; i < 200; ++i) {
            const auto pause = std::chrono::microseconds(random() % 300);
            ++inFlight;
            mostInFlight = std::max(mostInFlight, inFlight);
            // Every third step has no work, like the record ends between batches.
            std::function<void()> work;
            if (i % 3 != 0) work = [pause] { std::this_thread::sleep_for(pause); };
            pipeline.Submit(work, [&, i] {
                completed.push_back(i);
                --inFlight;
            });
        }
        pipeline.Drain();
        ASSERT_EQ(completed.size(), 200u);
        for (int i = 0; i < 200; ++i) EXPECT_EQ(completed[static_cast<std::size_t>(i)], i);
        EXPECT_LE(mostInFlight, kBudget);
        EXPECT_EQ(inFlight, 0);
    }
}

}  // namespace
}  // namespace corvane
