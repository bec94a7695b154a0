#include "dataset_command.h"

#include "console.h"
#include "export_run.h"

namespace annoxml::cli {
namespace {

std::string WrittenLine(const DatasetWriter::FileSummary& file, std::size_t categories) {
    const std::string categoryCount =
        std::to_string(categories) + (categories == 1 ? " category" : " categories");
    return "annoxml: wrote " + file.path + ": " + Counted(file.images, "image") + ", " +
           Counted(file.annotations, "annotation") + ", " + categoryCount + "\n";
}

}  // namespace

CLI::App* AddDataset(CLI::App& app, DatasetArgs& args) {
    CLI::App* command = app.add_subcommand(
        "dataset",
        "Build one standard COCO instances file (a training set) from many annotation files");
    command->footer(
        "Unlike convert, which writes one file per input in the original per-file layout, dataset\n"
        "writes a single COCO file that training tools load as it is: a list of images with\n"
        "numeric sizes, categories shared by all files, ids unique across the data set, and one\n"
        "annotation per area shape (Rectangle, Polygon, Circle, FreehandContour, Ellipse) with "
        "its\n"
        "outline, area and box. A file that fails is reported and left out; the others are\n"
        "written and the exit status is 1.\n"
        "\n"
        "Each image's file_name is the annotation file's folder below the input folder given,\n"
        "then the last component of its FileName (after / or \\): ward-b/0211.png. With several\n"
        "inputs, each input folder's own name comes first: a/ward-b/0211.png. Training tools\n"
        "open an image as their image root joined with file_name (torchvision's CocoDetection\n"
        "root, the COCO API's image folder), so keep the images in that layout, or give the\n"
        "same root to yolo and preview as --images. Regions of zero area and regions wholly\n"
        "outside the image are left out, as in masks and yolo; two frames with the same\n"
        "file_name fail. A named split that receives no frame fails the run, and nothing is\n"
        "written.");
    AddFrameOptions(*command, args.frames);
    command->add_option("-o,--output", args.output, "COCO JSON file to write")->required();
    command->add_option("--indent", args.indent, "Pretty output with N spaces per level")
        ->check(CLI::Range(0, 16));
    command->add_flag("--strict", args.strict, "Write nothing if any file fails");
    return command;
}

int RunDataset(const DatasetArgs& args) {
    StudyReporting reporting(args.frames);
    DatasetExportSummary result;
    try {
        result = ExportDataset(reporting.Run(args.frames.dataset), args.output, args.indent,
                               args.strict);
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
    const BatchSummary summary = reporting.Summary(result);
    if (!result.writeError.empty()) {
        WriteError("annoxml: " + result.writeError + "\n");
        FinishRun(summary, args.frames.quiet);
        return 1;
    }
    if (summary.stopSignal != 0 || (args.strict && summary.failed != 0)) {
        if (args.strict && summary.failed != 0) {
            WriteError("annoxml: --strict: nothing written\n");
        }
        return FinishRun(summary, args.frames.quiet);
    }
    const int status = FinishRun(summary, args.frames.quiet);
    if (!args.frames.quiet) {
        for (const DatasetWriter::FileSummary& file : result.files) {
            WriteError(WrittenLine(file, result.categories));
        }
        WriteAdmissionSummary(result.admitted, false);
        for (const std::string& stale : result.staleFiles) {
            WriteError("annoxml: note: " + stale +
                       " is left from an earlier run and was not rewritten by this one\n");
        }
    }
    return status;
}

}  // namespace annoxml::cli
