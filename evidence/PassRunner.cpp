#include "evidence/PassRunner.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnwell {

int RunJobs(int total, const std::function<void(int index)>& job, const RunnerControl& control)
{
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    std::mutex reportMutex;  // guards done, firstError and the progress calls
    int done = 0;
    std::exception_ptr firstError;

    const auto stopped = [&] { return failed.load() || (control.stop != nullptr && control.stop->load()); };
    const auto work = [&] {
        for (int i = next++; i < total && !stopped(); i = next++) {
            try {
                job(i);
            } catch (...) {
                const std::lock_guard lock(reportMutex);
                if (!firstError) {
                    firstError = std::current_exception();
                }
                failed = true;
                return;
            }
            const std::lock_guard lock(reportMutex);
            ++done;
            if (control.progress) {
                control.progress(done, total);
            }
        }
    };
    {
        // Joined at the end of this block, before the count is read.
        const int threads = std::clamp(control.threads, 1, std::max(1, total));
        std::vector<std::jthread> workers;
        for (int t = 1; t < threads; ++t) {
            workers.emplace_back(work);
        }
        work();  // this thread is one of the workers
    }
    if (firstError) {
        std::rethrow_exception(firstError);
    }
    return done;
}

}  // namespace tarnwell
