#include "masks_command.h"

#include <algorithm>

#include "annoxml/masks.h"
#include "console.h"

namespace annoxml::cli {

CLI::App* AddMasks(CLI::App& app, MasksArgs& args) {
    CLI::App* command = app.add_subcommand(
        "masks",
        "Write one segmentation mask PNG per frame: regions filled by the pixel-centre rule, "
        "painted in document order");
    AddFrameOptions(*command, args.frames);
    command
        ->add_option("--out-dir", args.outDir,
                     "Folder for the masks, named like the images (extension .png) in the data "
                     "set's folders, and categories.json")
        ->required();
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
    command->callback([&args] { args.dataset = ToDatasetOptions(args.frames); });
    return command;
}

int RunMasks(const MasksArgs& args) {
    DatasetCatalog catalog(args.dataset);
    MaskSetWriter writer({args.outDir, ParseMaskMode(args.mode), args.labels});
    const BatchSummary summary = RunFrames(args.frames, [&](FrameItem& item) -> std::string {
        if (item.frame) {
            writer.Write(catalog.Admit(std::move(*item.frame), *item.source), catalog.categories());
        }
        return "";
    });
    bool finished = true;
    try {
        for (const std::string& label : writer.Finish(catalog.categories())) {
            WriteError("annoxml: warning: --labels: no category is called \"" + label + "\"\n");
        }
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        finished = false;
    }
    const int status = FinishRun(summary, args.frames.quiet);
    return finished ? status : std::max(status, 1);
}

}  // namespace annoxml::cli
