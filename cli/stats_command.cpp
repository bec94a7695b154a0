#include "stats_command.h"

#include "annoxml/stats.h"
#include "console.h"
#include "pending_frames.h"

namespace annoxml::cli {

CLI::App* AddStats(CLI::App& app, StatsArgs& args) {
    CLI::App* command = app.add_subcommand(
        "stats",
        "Count frames, frames without regions, shapes per kind, regions per category, masks "
        "and failed files; print them as tables, or as JSON with --json");
    command->add_option("INPUT", args.inputs, "Annotation files, or folders to search for *.xml")
        ->required();
    command->add_flag("--json", args.json, "Print one JSON object instead of tables");
    return command;
}

int RunStats(const StatsArgs& args, std::ostream& out) {
    try {
        Statistics statistics;
        const PendingSummary summary = ReadFramesInOrder(
            args.inputs, [&](const Frame& frame) { statistics.Add(frame); },
            [&](const std::string& path, const std::string& message) {
                statistics.AddFailure(path, message);
            });
        out << (args.json ? StatisticsJson(statistics, 2) + "\n" : StatisticsTable(statistics))
            << std::flush;
        if (!out) {
            WriteError("annoxml: cannot write to standard output\n");
            return 1;
        }
        return summary.failed == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
}

}  // namespace annoxml::cli
