#include "annoxml/pipeline.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace annoxml {

BackgroundTasks::BackgroundTasks(unsigned threads, FailureReport failed)
    : capacity_(2 * std::max(threads, 1u)), failedReport_(std::move(failed)) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
        workers_.emplace_back([this] { Work(); });
    }
}

BackgroundTasks::~BackgroundTasks() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void BackgroundTasks::Post(std::string source, std::function<void()> task) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.size() < capacity_; });
    waiting_.push_back({std::move(source), std::move(task)});
    changed_.notify_all();
}

void BackgroundTasks::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
        if (waiting_.empty()) {
            return;
        }
        Task task = std::move(waiting_.front());
        waiting_.pop_front();
        ++running_;
        changed_.notify_all();
        lock.unlock();
        std::string error;
        try {
            task.run();
        } catch (const std::exception& failure) {
            error = *failure.what() ? failure.what() : "unknown error";
        }
        if (!error.empty() && failedReport_) {
            failedReport_(task.source, error);
        }
        lock.lock();
        --running_;
        failed_ += error.empty() ? 0 : 1;
        changed_.notify_all();
    }
}

std::size_t BackgroundTasks::Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && running_ == 0; });
    return std::exchange(failed_, 0);
}

}  // namespace annoxml
