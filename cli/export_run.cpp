#include "export_run.h"

#include <algorithm>

#include "console.h"

namespace annoxml::cli {

CLI::App* AddExportCommand(CLI::App& app, const std::string& name, const std::string& description,
                           const std::string& outDirHelp, ExportArgs& args) {
    CLI::App* command = app.add_subcommand(name, description);
    AddFrameOptions(*command, args.frames);
    command->add_option("--out-dir", args.outDir, outDirHelp)->required();
    command->add_flag("--force", args.force,
                      "Replace a non-empty --out-dir that annoxml did not write (without it, such "
                      "a folder is refused); a folder it wrote is always replaced as a whole");
    // Runs within parsing, so that a bad --split or --categories is a usage error.
    command->callback([&args] { args.dataset = ToDatasetOptions(args.frames); });
    return command;
}

int FinishExport(const BatchSummary& summary, const StudySummary& result, const ExportArgs& args,
                 const std::string& note) {
    if (!result.writeError.empty()) {
        WriteError("annoxml: " + result.writeError + "\n");
    } else if (!result.stopped) {
        WriteAdmissionSummary(result.admitted, args.frames.quiet);
        if (!note.empty() && !args.frames.quiet) WriteError("annoxml: " + note + "\n");
    }
    const int status = FinishRun(summary, args.frames.quiet);
    return result.writeError.empty() ? status : std::max(status, 1);
}

void WriteAdmissionSummary(const AdmissionTally& tally, bool quiet) {
    if (quiet) return;
    for (const std::string& line : {SplitSummary(tally), LeftOutSummary(tally)}) {
        if (!line.empty()) WriteError("annoxml: " + line + "\n");
    }
}

}  // namespace annoxml::cli
