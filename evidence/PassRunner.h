// PassRunner: runs many independent jobs (a sweep's passes, a G.168-style test's cells, a
// batch's ports) on a few threads. Each job is known by its index and writes only its own
// slot of the caller's results, so the results do not depend on the number of threads.
#pragma once

#include <atomic>
#include <functional>

namespace tarnwell {

struct RunnerControl {
    int threads = 1;                                    // at most this many, the caller's own included
    std::function<void(int done, int total)> progress;  // after each job, one call at a time
    const std::atomic<bool>* stop = nullptr;            // once true, no further job starts
};

// Runs job(0) .. job(total - 1), each exactly once unless stopped, and returns how many
// ran. A job that throws stops the rest; the first exception is rethrown once every thread
// has ended.
int RunJobs(int total, const std::function<void(int index)>& job, const RunnerControl& control = {});

}  // namespace tarnwell
