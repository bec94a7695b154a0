#include "yolo_command.h"

#include "annoxml/yolo.h"
#include "console.h"

namespace annoxml::cli {
namespace {

YoloSetWriter::Options WriterOptions(const YoloArgs& args) {
    YoloSetWriter::Options options;
    options.outDir = args.outDir;
    options.task = ParseYoloTask(args.task);
    if (!args.imagesDir.empty()) {
        options.imagesDir = args.imagesDir;
    }
    options.copyImages = args.copyImages;
    options.force = args.force;
    return options;
}

}  // namespace

CLI::App* AddYolo(CLI::App& app, YoloArgs& args) {
    CLI::App* command = AddExportCommand(
        app, "yolo",
        "Write a YOLO training set: labels/<split>/*.txt of normalised boxes or outlines, "
        "data.yaml, and the images with --images",
        "Folder of the data set: labels/, images/ and data.yaml", args);
    command
        ->add_option("--task", args.task,
                     "detect: \"class cx cy w h\" per region; segment: \"class x1 y1 x2 y2 ...\"")
        ->check(CLI::IsMember({"detect", "segment"}))
        ->capture_default_str();
    CLI::Option* images = command->add_option(
        "--images", args.imagesDir,
        "Folder of the images: each frame's image is looked for as DIR/<data-set file_name>, "
        "then DIR/<FileName's last component>, then beside the annotation file, and linked "
        "(relative link) into images/<split>/; a frame whose image is missing fails");
    command->add_flag("--copy-images", args.copyImages, "Copy the images instead of linking them")
        ->needs(images);
    // YOLO trainers read train, val and test only: other split names are a usage error.
    command->callback([&args] {
        args.dataset = ToDatasetOptions(args.frames);
        try {
            args.dataset.splits = YoloSplits(std::move(args.dataset.splits));
        } catch (const std::invalid_argument& error) {
            throw CLI::ValidationError("--split", error.what());
        }
    });
    return command;
}

int RunYolo(const YoloArgs& args) {
    StudyReporting reporting(args.frames);
    YoloExportSummary result;
    try {
        result = ExportYolo(reporting.Run(args.dataset), WriterOptions(args));
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
    std::string notes = result.validationNote;
    if (!result.imagesNote.empty()) {
        notes += (notes.empty() ? "" : "\nannoxml: ") + result.imagesNote;
    }
    return FinishExport(reporting.Summary(result), result, args, notes);
}

}  // namespace annoxml::cli
