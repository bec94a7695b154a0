// `annoxml agree`: how far raters who annotated the same frames agree, and consensus masks.
#pragma once

#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "frame_pipeline.h"

namespace annoxml::cli {

struct AgreeArgs {
    FrameOptions frames;  // inputs: one folder per rater
    bool json = false;
    std::string reportDir;
    std::string imagesDir;
    std::string consensusDir;
    std::string method = "majority";
    bool force = false;
};

CLI::App* AddAgree(CLI::App& app, AgreeArgs& args);
int RunAgree(const AgreeArgs& args, std::ostream& out);

}  // namespace annoxml::cli
