#include "export_run.h"

#include <algorithm>

#include "console.h"

namespace annoxml::cli {

CLI::App* AddExportCommand(CLI::App& app, const std::string& name, const std::string& description,
                           const std::string& outDirHelp, ExportArgs& args) {
    CLI::App* command = app.add_subcommand(name, description);
    AddFrameOptions(*command, args.frames);
    command->add_option("--out-dir", args.outDir, outDirHelp)->required();
    // Runs within parsing, so that a bad --split or --categories is a usage error.
    command->callback([&args] { args.dataset = ToDatasetOptions(args.frames); });
    return command;
}

int FinishExport(const BatchSummary& summary, const std::string& writeError,
                 const ExportArgs& args) {
    if (!writeError.empty()) {
        WriteError("annoxml: " + writeError + "\n");
    }
    const int status = FinishRun(summary, args.frames.quiet);
    return writeError.empty() ? status : std::max(status, 1);
}

}  // namespace annoxml::cli
