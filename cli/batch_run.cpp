#include "batch_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "annoxml/coco.h"
#include "console.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace annoxml::cli {
namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void RequestStop(int signal) {
    int none = 0;
    stopSignal.compare_exchange_strong(none, signal);
}

// Installs RequestStop for SIGINT and SIGTERM for its lifetime.
class StopOnSignals {
  public:
    StopOnSignals() {
        stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = RequestStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~StopOnSignals() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

  private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

void CreateParentFolder(const fs::path& output) {
    const fs::path parent = output.parent_path();
    if (parent.empty()) {
        return;
    }
    std::error_code error;
    fs::create_directories(parent, error);
    if (error) {
        throw std::runtime_error("cannot create folder " + parent.string() + ": " +
                                 error.message());
    }
}

// The failure message, or "" when the file was converted.
std::string Convert(const Job& job) {
    if (!job.problem.empty()) {
        return job.problem;
    }
    try {
        CreateParentFolder(job.output);
        GenerateCOCOJson(InputPath(job.input), OutputPath(job.output.string()));
        return {};
    } catch (const std::exception& error) {
        const std::string message = error.what();
        return message.empty() ? "unknown error" : message;
    }
}

// Counts finished jobs and keeps standard error tidy: failure lines and an optional bar.
class Tally {
  public:
    Tally(std::size_t total, bool progressBar) : total_(total), progressBar_(progressBar) {}

    void Record(const Job& job, const std::string& error) {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::string text = progressBar_ ? "\r\033[K" : "";
        if (error.empty()) {
            ++converted_;
        } else {
            ++failed_;
            text += "annoxml: " + InputName(job.input) + ": " + error + "\n";
        }
        const bool last = converted_ + failed_ == total_;
        if (progressBar_ && (!error.empty() || last || Clock::now() - drawn_ > kRedraw)) {
            text += Bar();
            drawn_ = Clock::now();
        } else if (error.empty()) {
            return;
        }
        WriteError(text);
    }

    void ClearBar() {
        if (progressBar_) {
            WriteError("\r\033[K");
        }
    }

    std::size_t converted() const { return converted_; }
    std::size_t failed() const { return failed_; }

  private:
    static constexpr auto kRedraw = std::chrono::milliseconds(100);
    static constexpr std::size_t kBarWidth = 30;

    std::string Bar() const {
        const std::size_t done = converted_ + failed_;
        const std::size_t filled = total_ == 0 ? kBarWidth : done * kBarWidth / total_;
        return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
               std::to_string(done) + "/" + std::to_string(total_);
    }

    std::mutex mutex_;
    const std::size_t total_;
    const bool progressBar_;
    std::size_t converted_ = 0;
    std::size_t failed_ = 0;
    Clock::time_point drawn_{};
};

void Work(const std::vector<Job>& jobs, std::atomic<std::size_t>& next, Tally& tally) {
    while (stopSignal == 0) {
        const std::size_t index = next++;
        if (index >= jobs.size()) {
            return;
        }
        tally.Record(jobs[index], Convert(jobs[index]));
    }
}

std::string FilesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

BatchSummary RunBatch(const std::vector<Job>& jobs, const BatchOptions& options) {
    const Clock::time_point start = Clock::now();
    const StopOnSignals stopOnSignals;
    Tally tally(jobs.size(), options.progressBar);
    std::atomic<std::size_t> next{0};

    const std::size_t threadCount =
        std::clamp<std::size_t>(options.threads, 1, std::max<std::size_t>(jobs.size(), 1));
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < threadCount; ++i) {
        threads.emplace_back(Work, std::cref(jobs), std::ref(next), std::ref(tally));
    }
    Work(jobs, next, tally);
    for (std::thread& thread : threads) {
        thread.join();
    }
    tally.ClearBar();

    BatchSummary summary;
    summary.converted = tally.converted();
    summary.failed = tally.failed();
    summary.notStarted = jobs.size() - summary.converted - summary.failed;
    summary.stopSignal = stopSignal;
    summary.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return summary;
}

std::string SummaryLine(const BatchSummary& summary) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", summary.seconds);
    std::string line = "annoxml: ";
    if (summary.stopSignal != 0) {
        line += "stopped by signal " + std::to_string(summary.stopSignal) + "; ";
    }
    line +=
        FilesText(summary.converted) + " converted, " + std::to_string(summary.failed) + " failed";
    if (summary.notStarted != 0) {
        line += ", " + std::to_string(summary.notStarted) + " not started";
    }
    return line + " in " + seconds + " s\n";
}

int ExitStatus(const BatchSummary& summary) {
    if (summary.stopSignal != 0) {
        return 128 + summary.stopSignal;
    }
    return summary.failed == 0 ? 0 : 1;
}

}  // namespace annoxml::cli
