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

namespace annoxml {

class BackgroundTasks {
  public:
    // Called on the worker with a task's source and why it failed.
    using FailureReport = std::function<void(const std::string& source, const std::string& error)>;

    // `threads` workers; Post waits while 2 tasks per worker are waiting, so that memory stays
    // bounded whatever the number of frames.
    BackgroundTasks(unsigned threads, FailureReport failed);
    ~BackgroundTasks();
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    // Runs `task` on a worker. When it throws, the failure is reported and the task counts as
    // failed.
    void Post(std::string source, std::function<void()> task);

    // Waits until every task posted has run; returns how many failed since the last Finish.
    std::size_t Finish();

  private:
    struct Task {
        std::string source;
        std::function<void()> run;
    };

    void Work();

    std::size_t capacity_;
    FailureReport failedReport_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> waiting_;
    std::size_t running_ = 0;
    std::size_t failed_ = 0;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace annoxml
