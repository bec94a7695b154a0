// `annoxml eval`: a model's predictions scored against the annotations, by the COCO evaluation
// and per frame.
#pragma once

#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "frame_pipeline.h"

namespace annoxml::cli {

struct EvalArgs {
    FrameOptions frames;
    std::string predictions;
    std::string iouType = "bbox";
    std::string subset;
    bool json = false;
    std::string plotsDir;
    bool frameMetrics = false;
    double scoreThreshold = 0.5;
};

CLI::App* AddEval(CLI::App& app, EvalArgs& args);
int RunEval(const EvalArgs& args, std::ostream& out);

}  // namespace annoxml::cli
