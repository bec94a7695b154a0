// Running the jobs of a `convert` run on several threads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "batch_plan.h"

namespace annoxml::cli {

struct BatchOptions {
    unsigned threads = 1;
    bool progressBar = false;
};

struct BatchSummary {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t notStarted = 0;
    int stopSignal = 0;  // SIGINT or SIGTERM when the run was stopped early
    double seconds = 0;
};

// Converts the jobs, reporting each failure as one "annoxml: PATH: MESSAGE" line on standard
// error. SIGINT and SIGTERM stop the run: conversions under way finish, no new one starts.
BatchSummary RunBatch(const std::vector<Job>& jobs, const BatchOptions& options);

std::string SummaryLine(const BatchSummary& summary);

// 0 when every file was converted, 1 when some failed, 128 + signal when stopped.
int ExitStatus(const BatchSummary& summary);

}  // namespace annoxml::cli
