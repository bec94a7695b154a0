#include "masks_command.h"

#include "annoxml/masks.h"
#include "console.h"

namespace annoxml::cli {

CLI::App* AddMasks(CLI::App& app, MasksArgs& args) {
    CLI::App* command = AddExportCommand(
        app, "masks",
        "Write one segmentation mask PNG per frame: regions filled by the pixel-centre rule, "
        "painted in document order",
        "Folder for the masks, named like the images with the extension .png, in the data "
        "set's folders (below one folder per split with --split), and categories.json",
        args);
    command
        ->add_option("--mode", args.mode,
                     "binary: 8-bit, 255 on any region; category: the category id (16-bit past "
                     "255); instance: 16-bit, the region's number within the frame from 1")
        ->check(CLI::IsMember({"binary", "category", "instance"}))
        ->capture_default_str();
    command
        ->add_option("--labels", args.labels,
                     "Paint only these categories (names after --rename), comma-separated")
        ->delimiter(',');
    return command;
}

int RunMasks(const MasksArgs& args) {
    StudyReporting reporting(args.frames);
    MaskExportSummary result;
    try {
        result = ExportMasks(reporting.Run(args.dataset),
                             {args.outDir, ParseMaskMode(args.mode), args.labels, args.force});
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
    const BatchSummary summary = reporting.Summary(result);
    for (const std::string& label : result.unknownLabels) {
        WriteError("annoxml: warning: --labels: no category is called \"" + label + "\"\n");
    }
    return FinishExport(summary, result, args);
}

}  // namespace annoxml::cli
