#include "check_command.h"

#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "console.h"

namespace annoxml::cli {
namespace {

struct Finding {
    bool error = false;
    std::string message;
};

std::string SizeText(const Frame& frame) {
    return std::to_string(frame.width) + "x" + std::to_string(frame.height);
}

// "partly" or "wholly" outside the image, or "" when inside.
const char* OutsideImage(const Box& box, const Frame& frame) {
    const double right = box.x + box.width;
    const double bottom = box.y + box.height;
    if (box.x >= frame.width || box.y >= frame.height || right <= 0 || bottom <= 0) {
        return "wholly";
    }
    if (box.x < 0 || box.y < 0 || right > frame.width || bottom > frame.height) {
        return "partly";
    }
    return "";
}

// Regions partly outside the image; those the catalog leaves out are reported from the admitted
// frame, by the rule every export follows.
void RegionWarnings(const Frame& frame, std::vector<Finding>& findings) {
    const bool sized = frame.width > 0 && frame.height > 0;
    for (const Region& region : frame.regions) {
        const std::string outside = sized ? OutsideImage(region.box, frame) : "";
        if (outside == "partly" && !RegionLeftOut(region, frame.width, frame.height)) {
            findings.push_back({false, ShapeName(region.kind, region.index) + ": " + outside +
                                           " outside the " + SizeText(frame) + " image"});
        }
    }
}

void FileNameWarning(const Frame& frame, std::vector<Finding>& findings) {
    const std::string_view image = ImageFileName(frame.fileName);
    if (image.size() != frame.fileName.size()) {
        findings.push_back({false, "FileName \"" + frame.fileName +
                                       "\" holds a folder path; its last component \"" +
                                       std::string(image) + "\" names the image"});
    }
}

void RepeatedIndexWarnings(const Frame& frame, std::vector<Finding>& findings) {
    std::set<std::pair<ShapeKind, std::string>> seen;
    const auto note = [&](ShapeKind kind, const std::string& index) {
        if (!index.empty() && !seen.emplace(kind, index).second) {
            findings.push_back({false, ShapeName(kind, index) + ": another " + KindName(kind) +
                                           " of this file has the same Index"});
        }
    };
    for (const Region& region : frame.regions) note(region.kind, region.index);
    for (const Mark& mark : frame.marks) note(mark.kind, mark.index);
}

class Checker {
  public:
    Checker(const CheckArgs& args, std::ostream& out)
        : args_(args), out_(out), catalog_(args.frames.dataset) {}

    // Reports the findings of one file; "" when it has none that count as errors.
    std::string Check(FrameItem& item) {
        std::vector<Finding> findings;
        if (!item.error.empty()) {
            findings.push_back({true, item.error});
        }
        for (const std::string& problem : item.problems) {
            findings.push_back({true, problem});
        }
        if (item.frame) {
            RegionWarnings(*item.frame, findings);
            FileNameWarning(*item.frame, findings);
            RepeatedIndexWarnings(*item.frame, findings);
            Admit(item, findings);
        }
        return Report(*item.source, findings, item.lines);
    }

    std::size_t errors() const { return errors_; }
    std::size_t warnings() const { return warnings_; }

  private:
    void Admit(FrameItem& item, std::vector<Finding>& findings) {
        try {
            UseAdmitted(catalog_, item, [&](const DatasetFrame& admitted) {
                const std::string size = SizeText(admitted.frame);
                for (const LeftOutRegion& region : admitted.leftOut) {
                    const std::string reason = region.reason == LeftOutReason::ZeroArea
                                                   ? "zero area"
                                                   : "wholly outside the " + size + " image";
                    findings.push_back({false, ShapeName(region.kind, region.index) + ": " +
                                                   reason + "; left out of every export"});
                }
            });
        } catch (const DuplicateFileName& error) {
            findings.push_back({true, error.detail()});
        } catch (const FrameError& error) {
            // Without a fixed category list only labels outside the file's own list fail here,
            // and those are reported already.
            if (args_.frames.dataset.categories) {
                findings.push_back({true, error.detail()});
            }
        }
    }

    std::string Report(const FrameSource& source, const std::vector<Finding>& findings,
                       std::string& lines) {
        bool failed = false;
        for (const Finding& finding : findings) {
            ++(finding.error ? errors_ : warnings_);
            failed = failed || finding.error || args_.warningsAsErrors;
            const char* severity = finding.error ? "error" : "warning";
            if (args_.json) {
                out_ << nlohmann::ordered_json{{"path", source.path},
                                               {"severity", severity},
                                               {"message", finding.message}}
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                     << '\n';
            } else {
                lines +=
                    "annoxml: " + source.path + ": " + severity + ": " + finding.message + "\n";
            }
        }
        return failed ? "has findings" : "";
    }

    const CheckArgs& args_;
    std::ostream& out_;
    DatasetCatalog catalog_;
    std::size_t errors_ = 0;
    std::size_t warnings_ = 0;
};

std::string CountText(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string CheckSummary(const BatchSummary& summary, const Checker& checker) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", summary.seconds);
    std::string line = "annoxml: ";
    if (summary.stopSignal != 0) {
        line += "stopped by signal " + std::to_string(summary.stopSignal) + "; ";
    }
    return line + CountText(summary.converted + summary.failed, "file") + " checked, " +
           CountText(checker.errors(), "error") + ", " + CountText(checker.warnings(), "warning") +
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
    Checker checker(args, out);
    PipelineOptions pipeline;
    pipeline.reportFailures = false;
    pipeline.collectProblems = true;
    const BatchSummary summary = RunFrames(
        args.frames, [&](FrameItem& item) { return checker.Check(item); }, pipeline);
    out << std::flush;
    if (!args.frames.quiet) {
        WriteError(CheckSummary(summary, checker));
    }
    return ExitStatus(summary);
}

}  // namespace annoxml::cli
