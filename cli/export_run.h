// What the per-frame export subcommands (masks, yolo) share around the frame pipeline.
#pragma once

#include <functional>
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
    bool force = false;
};

// A subcommand with the common frame options and a required --out-dir.
CLI::App* AddExportCommand(CLI::App& app, const std::string& name, const std::string& description,
                           const std::string& outDirHelp, ExportArgs& args);

// Writes the set's index file (categories.json, data.yaml) and puts the folder in place with
// `writeIndex`, whose failure is reported and fails the run (not called when a signal stopped
// the run: the old folder stays), then prints the summary and returns the exit status.
int FinishExport(const BatchSummary& summary, const ExportArgs& args,
                 const std::function<void()>& writeIndex);

// Prints what the catalog admitted: images per split and the regions left out, by reason.
void WriteAdmissionSummary(const DatasetCatalog& catalog, bool quiet);

}  // namespace annoxml::cli
