// What the per-frame export subcommands (masks, yolo) share around the frame pipeline.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "annoxml/dataset.h"
#include "annoxml/study.h"
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

// Reports why the set could not be completed and put in place, if it could not (which fails the
// run), or else what the catalog admitted and `note`; then prints the summary and returns the
// exit status.
int FinishExport(const BatchSummary& summary, const StudySummary& result, const ExportArgs& args,
                 const std::string& note = "");

// Prints what the catalog admitted: images per split and the regions left out, by reason.
void WriteAdmissionSummary(const AdmissionTally& tally, bool quiet);

}  // namespace annoxml::cli
