// `annoxml masks`: one segmentation mask image per frame.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "annoxml/dataset.h"
#include "frame_pipeline.h"

namespace annoxml::cli {

struct MasksArgs {
    FrameOptions frames;
    DatasetOptions dataset;  // from `frames`, once parsed
    std::string outDir;
    std::string mode = "binary";
    std::vector<std::string> labels;
};

CLI::App* AddMasks(CLI::App& app, MasksArgs& args);
int RunMasks(const MasksArgs& args);

}  // namespace annoxml::cli
