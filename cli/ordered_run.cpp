#include "cli/ordered_run.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace quillmark {

void OrderedRun::run(int workers, const std::function<void(std::size_t)>& task,
                     const std::function<void(std::size_t)>& finished) {
    const std::size_t count = done_.size();
    const std::size_t wanted = std::min(count, static_cast<std::size_t>(std::max(workers, 1)));

    std::vector<std::thread> threads;
    threads.reserve(wanted);
    try {
        while (threads.size() < wanted)
            threads.emplace_back([this, &task] { work(task); });
    } catch (const std::system_error&) {
        // Fewer threads only make the run slower. With none at all this thread does the work first.
        if (threads.empty()) work(task);
    }

    // Tasks are taken in increasing order and only wait for lower ones, so the lowest unfinished task
    // always runs: waiting here for each in turn cannot stall.
    for (std::size_t index = 0; index < count; ++index) {
        waitFor(index);
        finished(index);
    }
    for (std::thread& thread : threads)
        thread.join();
}

void OrderedRun::waitFor(std::size_t index) {
    std::unique_lock lock(mutex_);
    doneChanged_.wait(lock, [&] { return done_[index]; });
}

void OrderedRun::work(const std::function<void(std::size_t)>& task) {
    for (;;) {
        const std::size_t index = next_.fetch_add(1);
        if (index >= done_.size()) return;
        task(index);
        markDone(index);
    }
}

void OrderedRun::markDone(std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        done_[index] = true;
    }
    doneChanged_.notify_all();
}

} // namespace quillmark
