// `annoxml dataset`: many annotation files into one standard COCO instances file.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "frame_pipeline.h"

namespace annoxml::cli {

struct DatasetArgs {
    FrameOptions frames;
    std::string output;
    int indent = -1;
    bool strict = false;
};

CLI::App* AddDataset(CLI::App& app, DatasetArgs& args);
int RunDataset(const DatasetArgs& args);

}  // namespace annoxml::cli
