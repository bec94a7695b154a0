// What the per-frame export subcommands (masks, yolo) share around the frame pipeline.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "annoxml/dataset.h"
#include "batch_run.h"
#include "frame_pipeline.h"

namespace annoxml::cli {

struct ExportArgs {
    FrameOptions frames;
    DatasetOptions dataset;  // from `frames`, once parsed
    std::string outDir;
};

// A subcommand with the common frame options and a required --out-dir.
CLI::App* AddExportCommand(CLI::App& app, const std::string& name, const std::string& description,
                           const std::string& outDirHelp, ExportArgs& args);

// Reports why the set's index file (categories.json, data.yaml) could not be written, if it could
// not ("" when it was), which fails the run, then prints the summary and returns the exit status.
int FinishExport(const BatchSummary& summary, const std::string& writeError,
                 const ExportArgs& args);

}  // namespace annoxml::cli
