// `annoxml preview`: static HTML pages that draw every shape of the frames.
#pragma once

#include <cstddef>
#include <string>

#include <CLI/CLI.hpp>

#include "frame_pipeline.h"

namespace annoxml::cli {

struct PreviewArgs {
    FrameOptions frames;
    std::string outDir;
    std::string imagesDir;
    std::size_t pageSize = 100;
    bool force = false;
};

CLI::App* AddPreview(CLI::App& app, PreviewArgs& args);
int RunPreview(const PreviewArgs& args);

}  // namespace annoxml::cli
