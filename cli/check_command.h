// `annoxml check`: every problem of a set of annotation files, without writing anything.
#pragma once

#include <ostream>

#include <CLI/CLI.hpp>

#include "frame_pipeline.h"

namespace annoxml::cli {

struct CheckArgs {
    FrameOptions frames;
    bool warningsAsErrors = false;
    bool json = false;
};

CLI::App* AddCheck(CLI::App& app, CheckArgs& args);
// Findings go to standard error as lines, or with --json to `out` as one JSON object each.
int RunCheck(const CheckArgs& args, std::ostream& out);

}  // namespace annoxml::cli
