#include "eval_command.h"

#include <filesystem>
#include <future>
#include <optional>

#include "annoxml/eval.h"
#include "console.h"

namespace annoxml::cli {
namespace {

bool IsCocoFile(const FrameOptions& frames) {
    if (frames.inputs.size() != 1) return false;
    const std::filesystem::path path = std::filesystem::u8path(frames.inputs[0]);
    std::error_code error;
    return path.extension() == ".json" && std::filesystem::is_regular_file(path, error);
}

void RefuseBadEvalArgs(const EvalArgs& args) {
    const DatasetOptions& catalog = args.frames.dataset;
    if (IsCocoFile(args.frames)) {
        if (!catalog.renames.empty() || catalog.categories || !catalog.splits.empty() ||
            !args.subset.empty()) {
            throw CLI::ValidationError(
                "INPUT",
                "a COCO file keeps its own ids: --rename, --categories, --split and "
                "--subset apply to annotation files only");
        }
        return;
    }
    if (!catalog.splits.empty() && args.subset.empty()) {
        throw CLI::ValidationError("--subset", "--split needs --subset NAME: which split to score");
    }
    if (catalog.splits.empty() && !args.subset.empty()) {
        throw CLI::ValidationError("--subset", "needs --split");
    }
    bool known = args.subset.empty();
    for (const SplitShare& split : catalog.splits) known = known || split.name == args.subset;
    if (!known) {
        throw CLI::ValidationError("--subset", "\"" + args.subset + "\" is not a split of --split");
    }
}

// The ground truth from annotation files, with the ids `dataset` writes with the same options.
std::optional<GroundTruth> ReadFrames(const EvalArgs& args, MaskNeeds needs,
                                      BatchSummary& summary) {
    DatasetCatalog catalog(args.frames.dataset);
    GroundTruth truth;
    summary = RunFrames(args.frames, [&](FrameItem& item) {
        if (item.frame) {
            UseAdmitted(catalog, item, [&](const DatasetFrame& admitted) {
                if (admitted.split == args.subset) {
                    truth.AddFrame(admitted, std::string(item.source->folder()), needs);
                }
            });
        }
        return std::string();
    });
    if (summary.stopSignal != 0) return std::nullopt;
    truth.SetCategories(catalog.categories());
    return truth;
}

}  // namespace

CLI::App* AddEval(CLI::App& app, EvalArgs& args) {
    CLI::App* command = app.add_subcommand(
        "eval", "Score a model's predictions against the annotations: COCO AP/AR and per frame");
    command->footer(
        "The ground truth is a COCO instances file (INPUT ending in .json), or annotation files\n"
        "and folders read with the catalog options of dataset: with the same options, image and\n"
        "category ids are those that dataset writes (image ids count from 1 in each split's\n"
        "file, so --split needs --subset NAME). --predictions is a COCO results file: an array\n"
        "of {image_id, category_id, bbox, score, segmentation} with segmentation as polygons or\n"
        "RLE (compressed counts string or uncompressed list).\n"
        "\n"
        "The twelve COCO numbers (AP, AP50, AP75, APs, APm, APl, AR1, AR10, AR100, ARs, ARm,\n"
        "ARl; -1 where nothing counts) and AP per category equal those of the reference COCO\n"
        "evaluation: IoU .50:.05:.95, 101 recall points, 1/10/100 detections per image, area\n"
        "ranges on the ground truth's area, iscrowd objects ignored, and for segm COCO's own\n"
        "polygon rasterisation.\n"
        "\n"
        "--frame-metrics adds per-frame numbers for predictions scoring at least --score, on\n"
        "pixel-centre masks as `annoxml masks` paints them: Dice and IoU of the union of the\n"
        "predictions against the union of the regions (mean over frames holding either),\n"
        "sensitivity (frames with a region where a prediction reaches IoU 0.5 with one),\n"
        "specificity (frames without a region and without a prediction) and false positives\n"
        "per frame; per category, overall, and per folder (a video).\n"
        "\n"
        "Bad predictions (malformed JSON, unknown ids, a mask of another size than its image,\n"
        "a score that is not a finite number) are reported with their entry's position in the\n"
        "array, counted from 0, and exit 1.");
    AddFrameOptions(*command, args.frames);
    command->add_option("--predictions", args.predictions, "COCO results file")->required();
    command->add_option("--iou-type", args.iouType, "Boxes, masks, or both")
        ->check(CLI::IsMember({"bbox", "segm", "both"}))
        ->capture_default_str();
    command->add_option("--subset", args.subset,
                        "The split of --split to score, as dataset names its file");
    command->add_flag("--json", args.json, "Print one JSON object instead of the tables");
    command->add_option("--plots", args.plotsDir,
                        "Folder for precision-recall curves (SVG) and index.html");
    command->add_flag("--frame-metrics", args.frameMetrics, "Add the per-frame numbers");
    command
        ->add_option("--score", args.scoreThreshold,
                     "Least score of the predictions the per-frame numbers count")
        ->capture_default_str();
    // Replaces the catalog options' own callback, so it converts them first.
    command->parse_complete_callback([&args] {
        args.frames.dataset = ToDatasetOptions(args.frames);
        RefuseBadEvalArgs(args);
    });
    return command;
}

int RunEval(const EvalArgs& args, std::ostream& out) {
    std::vector<IouType> types;
    if (args.iouType != "segm") types.push_back(IouType::Bbox);
    if (args.iouType != "bbox") types.push_back(IouType::Segm);
    MaskNeeds needs;
    needs.coco = args.iouType != "bbox";
    needs.pixel = args.frameMetrics;
    BatchSummary summary;
    std::optional<GroundTruth> truth;
    const bool cocoFile = IsCocoFile(args.frames);
    try {
        if (cocoFile) {
            truth = GroundTruth::LoadCoco(args.frames.inputs[0], needs);
        } else {
            truth = ReadFrames(args, needs, summary);
            if (!truth) return FinishRun(summary, args.frames.quiet);
        }
        const Detections detections =
            LoadDetections(args.predictions, *truth, needs, args.frames.threads);
        // The evaluations only read what is loaded: with -j they run side by side.
        const auto launch = args.frames.threads > 1 ? std::launch::async : std::launch::deferred;
        std::vector<std::future<CocoScores>> pending;
        for (const IouType type : types) {
            pending.push_back(
                std::async(launch, [&, type] { return EvaluateCoco(*truth, detections, type); }));
        }
        std::optional<FrameReport> frames;
        if (args.frameMetrics) frames = EvaluateFrames(*truth, detections, args.scoreThreshold);
        std::vector<CocoScores> scores;
        for (std::future<CocoScores>& result : pending) scores.push_back(result.get());
        const FrameReport* framesShown = frames ? &*frames : nullptr;
        if (!args.plotsDir.empty()) WriteEvalPlots(args.plotsDir, *truth, scores, framesShown);
        out << (args.json ? EvalJson(*truth, scores, framesShown)
                          : EvalTable(*truth, scores, framesShown))
            << std::flush;
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        if (!cocoFile) FinishRun(summary, args.frames.quiet);
        return 1;
    }
    if (!out) {
        WriteError("annoxml: cannot write to standard output\n");
        return 1;
    }
    return cocoFile ? 0 : FinishRun(summary, args.frames.quiet);
}

}  // namespace annoxml::cli
