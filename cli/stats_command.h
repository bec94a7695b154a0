// `annoxml stats`: counts of frames, shapes, categories, masks and failures.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace annoxml::cli {

struct StatsArgs {
    std::vector<std::string> inputs;
    bool json = false;
};

CLI::App* AddStats(CLI::App& app, StatsArgs& args);
int RunStats(const StatsArgs& args, std::ostream& out);

}  // namespace annoxml::cli
