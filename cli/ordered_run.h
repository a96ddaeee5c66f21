// Runs numbered tasks on several threads while everything the caller sees happens in task order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace quillmark {

// Tasks 0 .. count - 1 are handed out in increasing order. A task may wait for an earlier one, and the
// calling thread hears of each task's end in task order, so what it prints reads as a one-at-a-time run.
class OrderedRun {
public:
    explicit OrderedRun(std::size_t count) : done_(count, false) {}

    // Runs task(i) for every i on up to `workers` threads (at least one, fewer when there are fewer tasks
    // or threads cannot be had) and calls finished(i) on this thread, in order of i, once task i is done.
    // Neither function may throw.
    void run(int workers, const std::function<void(std::size_t)>& task,
             const std::function<void(std::size_t)>& finished);

    // For use inside a task: blocks until task `index`, an earlier one, is done.
    void waitFor(std::size_t index);

private:
    void work(const std::function<void(std::size_t)>& task);
    void markDone(std::size_t index);

    std::mutex mutex_;
    std::condition_variable doneChanged_;
    std::vector<bool> done_;
    std::atomic<std::size_t> next_{0};
};

} // namespace quillmark
