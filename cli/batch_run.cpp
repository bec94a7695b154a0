#include "batch_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "annoxml/coco.h"
#include "console.h"
#include "stop_signals.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace annoxml::cli {
namespace {

void CreateParentFolder(const fs::path& output) {
    const fs::path parent = output.parent_path();
    if (parent.empty()) {
        return;
    }
    std::error_code error;
    fs::create_directories(parent, error);
    if (error) {
        throw std::runtime_error("cannot create folder " + parent.generic_string() + ": " +
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
    Tally(std::size_t total, bool progressBar) : bar_(total, progressBar) {}

    void Record(const Job& job, const std::string& error) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++(error.empty() ? converted_ : failed_);
        bar_.Report(error.empty() ? "" : "annoxml: " + InputName(job.input) + ": " + error + "\n",
                    converted_ + failed_);
    }

    void ClearBar() { bar_.Clear(); }

    std::size_t converted() const { return converted_; }
    std::size_t failed() const { return failed_; }

  private:
    std::mutex mutex_;
    ProgressBar bar_;
    std::size_t converted_ = 0;
    std::size_t failed_ = 0;
};

void Work(const std::vector<Job>& jobs, std::atomic<std::size_t>& next, Tally& tally) {
    while (StopSignal() == 0) {
        const std::size_t index = next++;
        if (index >= jobs.size()) {
            return;
        }
        tally.Record(jobs[index], Convert(jobs[index]));
    }
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
    summary.stopSignal = StopSignal();
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
    line += Counted(summary.converted, "file") + " converted, " + std::to_string(summary.failed) +
            " failed";
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
