// `annoxml masks`: one segmentation mask image per frame.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "export_run.h"

namespace annoxml::cli {

struct MasksArgs : ExportArgs {
    std::string mode = "binary";
    std::vector<std::string> labels;
};

CLI::App* AddMasks(CLI::App& app, MasksArgs& args);
int RunMasks(const MasksArgs& args);

}  // namespace annoxml::cli
