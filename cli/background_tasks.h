// Costly work that the in-order consumer of a frame pipeline hands to other threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch_run.h"

namespace annoxml::cli {

class BackgroundTasks {
  public:
    // `threads` workers; Post waits while 2 tasks per worker are waiting, so that memory stays
    // bounded whatever the number of frames.
    explicit BackgroundTasks(unsigned threads);
    ~BackgroundTasks();
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    // Runs `task` on a worker. When it throws, "annoxml: SOURCE: MESSAGE" goes to standard error
    // and the task counts as failed.
    void Post(std::string source, std::function<void()> task);

    // Waits until every task posted has run, and moves the failed ones from converted to failed
    // in `summary`.
    void Finish(BatchSummary& summary);

  private:
    struct Task {
        std::string source;
        std::function<void()> run;
    };

    void Work();

    std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> waiting_;
    std::size_t running_ = 0;
    std::size_t failed_ = 0;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace annoxml::cli
