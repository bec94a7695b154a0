#include "check_command.h"

#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "annoxml/check.h"
#include "console.h"

namespace annoxml::cli {
namespace {

std::string CountText(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string SummaryText(const BatchSummary& summary, const CheckSummary& result) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", summary.seconds);
    std::string line = "annoxml: ";
    if (summary.stopSignal != 0) {
        line += "stopped by signal " + std::to_string(summary.stopSignal) + "; ";
    }
    return line + CountText(summary.converted + summary.failed, "file") + " checked, " +
           CountText(result.errors, "error") + ", " + CountText(result.warnings, "warning") +
           " in " + seconds + " s\n";
}

}  // namespace

CLI::App* AddCheck(CLI::App& app, CheckArgs& args) {
    CLI::App* command = app.add_subcommand(
        "check",
        "Report every problem of annotation files, as dataset would meet them; writes "
        "nothing");
    command->footer(
        "Each finding is one line: annoxml: PATH: error|warning: Kind with Index N: problem.\n"
        "Errors are whatever would fail convert or dataset, two files with the same file_name in\n"
        "one data set included. Warnings: a region of zero area or wholly outside the image\n"
        "(every export leaves it out), a region partly outside the image, a FileName with a\n"
        "folder path (its last component names the image), two shapes of one kind with the same\n"
        "Index in a file. Exit status 0 without errors, 1 with errors (or warnings with\n"
        "--warnings-as-errors).");
    AddFrameOptions(*command, args.frames);
    command->add_flag("--warnings-as-errors", args.warningsAsErrors,
                      "Count warnings as errors for the exit status");
    command->add_flag("--json", args.json,
                      "Print each finding to standard output as one JSON object per line: "
                      "{\"path\", \"severity\", \"message\"}");
    return command;
}

int RunCheck(const CheckArgs& args, std::ostream& out) {
    StudyReporting reporting(args.frames);
    StudyRun run = reporting.Run(args.frames.dataset);
    // A file with findings counts as failed, but its findings are its report: no failure line.
    run.delivered = [progress = run.delivered](const FrameItem& item, const std::string&,
                                               std::size_t done) { progress(item, "", done); };
    const CheckSummary result = CheckStudy(
        run, args.warningsAsErrors,
        [&](FrameItem& item, const std::vector<CheckFinding>& findings) {
            for (const CheckFinding& finding : findings) {
                const char* severity = SeverityName(finding.severity);
                if (args.json) {
                    out << nlohmann::ordered_json{{"path", finding.path},
                                                  {"severity", severity},
                                                  {"message", finding.message}}
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                        << '\n';
                } else {
                    item.lines += "annoxml: " + finding.path + ": " + severity + ": " +
                                  finding.message + "\n";
                }
            }
        });
    out << std::flush;
    const BatchSummary summary = reporting.Summary(result);
    if (!args.frames.quiet) {
        WriteError(SummaryText(summary, result));
    }
    return ExitStatus(summary);
}

}  // namespace annoxml::cli
