#include "stats_command.h"

#include "annoxml/stats.h"
#include "console.h"
#include "frame_sink.h"

namespace annoxml::cli {

CLI::App* AddStats(CLI::App& app, StatsArgs& args) {
    CLI::App* command = app.add_subcommand(
        "stats",
        "Count frames, frames without regions, shapes per kind, regions per category, masks "
        "and failed files; print them as tables, or as JSON with --json");
    AddInputOptions(*command, args.frames);
    command->add_flag("--json", args.json, "Print one JSON object instead of the tables");
    return command;
}

int RunStats(const StatsArgs& args, std::ostream& out) {
    Statistics statistics;
    const BatchSummary summary = RunFrames(args.frames, CollectInto(statistics));
    if (summary.stopSignal == 0) {
        out << (args.json ? StatisticsJson(statistics, 2) + "\n" : StatisticsTable(statistics))
            << std::flush;
        if (!out) {
            WriteError("annoxml: cannot write to standard output\n");
            return 1;
        }
    }
    return FinishRun(summary, args.frames.quiet);
}

}  // namespace annoxml::cli
