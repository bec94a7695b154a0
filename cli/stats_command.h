// `annoxml stats`: counts of frames, shapes, categories, masks and failures.
#pragma once

#include <ostream>

#include <CLI/CLI.hpp>

#include "frame_pipeline.h"

namespace annoxml::cli {

struct StatsArgs {
    FrameOptions frames;
    bool json = false;
};

CLI::App* AddStats(CLI::App& app, StatsArgs& args);
int RunStats(const StatsArgs& args, std::ostream& out);

}  // namespace annoxml::cli
