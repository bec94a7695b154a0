#include "agree_command.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "annoxml/agree.h"
#include "annoxml/masks.h"
#include "console.h"

namespace annoxml::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLowestFramesShown = 12;

// The frames of one path, one per rater, as the consumer gathers them.
struct FrameGroup {
    std::string path;
    std::string folder;
    std::vector<std::optional<DatasetFrame>> frames;
    std::string maskPath;
    bool failed = false;

    std::vector<const DatasetFrame*> Pointers() const {
        std::vector<const DatasetFrame*> pointers;
        for (const std::optional<DatasetFrame>& frame : frames) pointers.push_back(&*frame);
        return pointers;
    }
};

// Hands compared frames to the study in the order they were read, whatever order the threads
// finish them in.
class InOrder {
  public:
    explicit InOrder(AgreementStudy& study) : study_(study) {}

    // `comparison` nothing: the frame failed and is skipped.
    void Deliver(std::size_t sequence, std::optional<FrameComparison> comparison,
                 std::shared_ptr<const FrameGroup> group) {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting_.emplace(sequence, Delivery{std::move(comparison), std::move(group)});
        for (auto next = waiting_.begin(); next != waiting_.end() && next->first == next_;
             next = waiting_.begin()) {
            if (next->second.comparison) {
                study_.Add(std::move(*next->second.comparison), next->second.group->Pointers());
            }
            waiting_.erase(next);
            ++next_;
        }
    }

  private:
    struct Delivery {
        std::optional<FrameComparison> comparison;
        std::shared_ptr<const FrameGroup> group;
    };
    AgreementStudy& study_;
    std::mutex mutex_;
    std::map<std::size_t, Delivery> waiting_;
    std::size_t next_ = 0;
};

// Every rater's files, and the paths below the folders that all of them have.
struct Listing {
    std::vector<std::vector<FrameSource>> sources;  // per rater
    std::vector<std::vector<std::size_t>> common;   // per common path: the index per rater
    std::vector<std::string> unmatched;
};

Listing ListRaters(const std::vector<std::string>& folders) {
    Listing listing;
    std::map<std::string, std::vector<std::size_t>> byPath;
    const std::size_t raters = folders.size();
    for (std::size_t r = 0; r < raters; ++r) {
        listing.sources.push_back(ListFrameSources({folders[r]}));
        for (std::size_t i = 0; i < listing.sources[r].size(); ++i) {
            std::vector<std::size_t>& places =
                byPath[std::string(listing.sources[r][i].relativePath())];
            places.resize(raters, SIZE_MAX);
            places[r] = i;
        }
    }
    for (auto& [path, places] : byPath) {
        if (std::count(places.begin(), places.end(), SIZE_MAX) == 0) {
            listing.common.push_back(std::move(places));
        } else {
            listing.unmatched.push_back(path);
        }
    }
    return listing;
}

void CheckFolders(const AgreeArgs& args) {
    const std::vector<std::string>& folders = args.frames.inputs;
    if (folders.size() < 2) {
        throw CLI::ValidationError("FOLDER", "give two folders or more, one per rater");
    }
    std::vector<fs::path> seen;
    for (const std::string& folder : folders) {
        std::error_code error;
        if (!fs::is_directory(fs::u8path(folder), error)) {
            throw CLI::ValidationError("FOLDER", folder + " is not a folder");
        }
        const fs::path canonical = fs::weakly_canonical(fs::absolute(fs::u8path(folder)), error);
        if (std::find(seen.begin(), seen.end(), canonical) != seen.end()) {
            throw CLI::ValidationError("FOLDER", folder + " is given twice");
        }
        seen.push_back(canonical);
    }
    if (!args.consensusDir.empty() && args.method == "majority" && folders.size() < 3) {
        throw CLI::ValidationError("--method",
                                   "majority needs three folders or more; use --method staple");
    }
}

int LargestCategoryId(const std::vector<Category>& categories) {
    int largest = 0;
    for (const Category& category : categories) largest = std::max(largest, category.id);
    return largest;
}

std::string SizeText(const Frame& frame) {
    return std::to_string(frame.width) + "x" + std::to_string(frame.height);
}

// Everything a run needs while the frames go by.
struct AgreeRun {
    const AgreeArgs& args;
    const Listing& listing;
    DatasetCatalog catalog;
    AgreementStudy& study;
    InOrder& inOrder;
    BackgroundTasks& tasks;
    // The consensus masks, named as `masks` names its own; null without --consensus.
    MaskSetWriter* masks;
    std::shared_ptr<FrameGroup> group;
    std::size_t consumed = 0;
    std::size_t posted = 0;

    std::string Consume(FrameItem& item) {
        const std::size_t raters = listing.sources.size();
        const std::size_t rater = consumed % raters;
        const std::vector<std::size_t>& places = listing.common[consumed / raters];
        ++consumed;
        const FrameSource& source = listing.sources[rater][places[rater]];
        if (rater == 0) {
            group = std::make_shared<FrameGroup>();
            group->path = std::string(source.relativePath());
            group->folder = std::string(source.folder());
            group->frames.resize(raters);
        }
        if (!item.frame) {
            group->failed = true;
            return "";
        }
        try {
            group->frames[rater] = catalog.Admit(std::move(*item.frame), source);
        } catch (...) {
            group->failed = true;
            throw;
        }
        return rater + 1 == raters && !group->failed ? Post() : "";
    }

    std::string Post() {
        const Frame& first = group->frames.front()->frame;
        for (const std::optional<DatasetFrame>& frame : group->frames) {
            if (frame->frame.width != first.width || frame->frame.height != first.height) {
                return "the frame is " + SizeText(frame->frame) + " here but " + SizeText(first) +
                       " in " + first.source + "; left out";
            }
        }
        if (masks) {
            const DatasetFrame& named = *group->frames.front();
            Frame source;
            source.source = first.source;
            group->maskPath = masks->Plan({source, named.fileName, named.split, {}, {}}, {}).path;
        }
        const std::size_t sequence = posted++;
        const int largest = LargestCategoryId(catalog.categories());
        std::shared_ptr<const FrameGroup> task = group;
        tasks.Post(group->path, [this, task, sequence, largest] {
            try {
                FrameComparison comparison = study.Compare(task->Pointers(), largest);
                comparison.path = task->path;
                comparison.folder = task->folder;
                if (comparison.consensus) {
                    fs::create_directories(fs::u8path(task->maskPath).parent_path());
                    WritePng(*comparison.consensus, task->maskPath);
                    comparison.consensus.reset();
                }
                inOrder.Deliver(sequence, std::move(comparison), task);
            } catch (...) {
                inOrder.Deliver(sequence, std::nullopt, task);
                throw;
            }
        });
        return "";
    }
};

}  // namespace

CLI::App* AddAgree(CLI::App& app, AgreeArgs& args) {
    CLI::App* command = app.add_subcommand(
        "agree",
        "Measure how far raters agree who annotated the same frames (Dice, IoU, matched "
        "regions, kappa), and write consensus masks");
    command->footer(
        "Each rater's files lie in a folder of their own. Per pair of raters: Dice and IoU of\n"
        "the category masks (as `masks` paints them), regions matched one to one at IoU >= 0.5\n"
        "(precision, recall and F1 of b against a), Cohen's kappa of category presence per\n"
        "frame; with three raters or more the mean over pairs and Fleiss' kappa. Frames are\n"
        "matched by their path below each folder; frames missing from some folders are listed\n"
        "and left out.");
    AddInputOptions(*command, args.frames);
    command->get_option("INPUT")
        ->description("Two folders or more, one per rater, each searched for *.xml")
        ->type_name("FOLDER");
    command->add_option("--rename", args.frames.renames,
                        "OLD=NEW: read the label OLD as NEW for every rater (repeatable)");
    command->add_option("--categories", args.frames.categoriesFile,
                        "JSON file with the category list [{\"id\", \"name\", "
                        "\"supercategory\"}]; a shape with another label fails its file");
    command->add_flag("--json", args.json, "Print one JSON object instead of the tables");
    command->add_option("--report", args.reportDir,
                        "Folder for index.html: the tables, and the frames of lowest agreement "
                        "drawn over their images, each rater in a colour of its own");
    command
        ->add_option("--images", args.imagesDir,
                     "Folder where each frame's image is looked for by its FileName, before the "
                     "annotation file's own folder (for --report)")
        ->check(CLI::ExistingDirectory);
    CLI::Option* consensus = command->add_option(
        "--consensus", args.consensusDir,
        "Folder for one consensus category mask PNG per frame (as `masks --mode category`) and "
        "categories.json; it replaces the folder as a whole once complete");
    command
        ->add_flag("--force", args.force,
                   "Replace a non-empty --consensus folder that annoxml did not write (without "
                   "it, such a folder is refused)")
        ->needs(consensus);
    command
        ->add_option("--method", args.method,
                     "majority: the category most raters painted, ties to background (three "
                     "raters or more); staple: STAPLE per category, each rater's sensitivity and "
                     "specificity estimated (two raters or more)")
        ->check(CLI::IsMember({"majority", "staple"}))
        ->needs(consensus)
        ->capture_default_str();
    command->callback([&args] {
        args.frames.dataset = ToDatasetOptions(args.frames);
        // Every rater's frame of a path has the same file name.
        args.frames.dataset.uniqueFileNames = false;
        CheckFolders(args);
    });
    return command;
}

int RunAgree(const AgreeArgs& args, std::ostream& out) {
    const std::vector<std::string>& folders = args.frames.inputs;
    Listing listing;
    try {
        listing = ListRaters(folders);
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
    if (listing.common.empty()) {
        WriteError("annoxml: agree: no frame is in every folder\n");
        return 1;
    }
    AgreementOptions options;
    options.raters = folders;
    options.consensus =
        args.consensusDir.empty() ? ConsensusMethod::None : ParseConsensusMethod(args.method);
    options.lowestFrames = args.reportDir.empty() ? 0 : kLowestFramesShown;
    AgreementStudy study(options);
    for (const std::string& path : listing.unmatched) study.AddUnmatched(path);

    // The raters' files of one path come one after the other.
    FrameOptions reading = args.frames;
    reading.inputs.clear();
    for (const std::vector<std::size_t>& places : listing.common) {
        for (std::size_t r = 0; r < folders.size(); ++r) {
            reading.inputs.push_back(listing.sources[r][places[r]].path);
        }
    }
    std::optional<MaskSetWriter> masks;
    try {
        if (!args.consensusDir.empty()) {
            masks.emplace(
                MaskSetWriter::Options{args.consensusDir, MaskMode::Category, {}, args.force});
        }
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
    InOrder inOrder(study);
    BatchSummary summary;
    AgreementReport report;
    {
        BackgroundTasks tasks(args.frames.threads,
                              [](const std::string& source, const std::string& error) {
                                  WriteError("annoxml: " + source + ": " + error + "\n");
                              });
        AgreeRun run{args,    listing, DatasetCatalog(args.frames.dataset), study,
                     inOrder, tasks,   masks ? &*masks : nullptr,           nullptr,
                     0,       0};
        summary = RunFrames(reading, [&run](FrameItem& item) { return run.Consume(item); });
        const std::size_t failedLater = tasks.Finish();
        summary.converted -= failedLater;
        summary.failed += failedLater;
        report = study.Finish(run.catalog.categories());
        // The consensus folder is put in place only for a complete run that compared frames.
        if (summary.stopSignal == 0 && report.frames != 0 && masks) {
            try {
                masks->Finish(run.catalog.categories());
            } catch (const std::exception& error) {
                WriteError(std::string("annoxml: ") + error.what() + "\n");
                ++summary.failed;
            }
        }
    }
    bool written = true;
    if (summary.stopSignal != 0 || report.frames == 0) {
        if (summary.stopSignal == 0) {
            WriteError("annoxml: agree: no frame could be compared\n");
            written = false;
        }
        const int status = FinishRun(summary, args.frames.quiet);
        return written ? status : std::max(status, 1);
    }
    out << (args.json ? AgreementJson(report, 2) + "\n" : AgreementTable(report)) << std::flush;
    if (!out) {
        WriteError("annoxml: cannot write to standard output\n");
        written = false;
    }
    try {
        if (!args.reportDir.empty()) WriteAgreementPage(report, args.reportDir, args.imagesDir);
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        written = false;
    }
    const int status = FinishRun(summary, args.frames.quiet);
    return written ? status : std::max(status, 1);
}

}  // namespace annoxml::cli
