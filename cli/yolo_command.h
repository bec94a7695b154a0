// `annoxml yolo`: a YOLO training set of label files, images and data.yaml.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "export_run.h"

namespace annoxml::cli {

struct YoloArgs : ExportArgs {
    std::string task = "detect";
    std::string imagesDir;
    bool copyImages = false;
};

CLI::App* AddYolo(CLI::App& app, YoloArgs& args);
int RunYolo(const YoloArgs& args);

}  // namespace annoxml::cli
