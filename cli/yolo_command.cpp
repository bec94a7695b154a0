#include "yolo_command.h"

#include "annoxml/yolo.h"

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
        "Folder of the images by data-set file name; each is linked into images/<split>/, and "
        "a frame whose image is missing fails");
    command->add_flag("--copy-images", args.copyImages, "Copy the images instead of linking them")
        ->needs(images);
    return command;
}

int RunYolo(const YoloArgs& args) {
    StudyReporting reporting(args.frames);
    const StudySummary result = ExportYolo(reporting.Run(args.dataset), WriterOptions(args));
    return FinishExport(reporting.Summary(result), result.writeError, args);
}

}  // namespace annoxml::cli
