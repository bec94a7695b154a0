#include "preview_command.h"

#include "annoxml/preview.h"
#include "console.h"

namespace annoxml::cli {

CLI::App* AddPreview(CLI::App& app, PreviewArgs& args) {
    CLI::App* command = app.add_subcommand(
        "preview",
        "Write static HTML pages that draw every shape over its image, with an index of "
        "statistics, categories, pages and failed files. Open DIR/index.html in any browser: "
        "no server, no network");
    AddInputOptions(*command, args.frames);
    command->add_option("--out-dir", args.outDir, "Folder for index.html and page-NNNN.html")
        ->required();
    command
        ->add_option("--images", args.imagesDir,
                     "Folder of the images: each frame's image is looked for as DIR/<data-set "
                     "file_name>, then DIR/<FileName's last component>, then beside the "
                     "annotation file")
        ->check(CLI::ExistingDirectory);
    command->add_flag("--force", args.force,
                      "Replace a non-empty --out-dir that annoxml did not write (without it, such "
                      "a folder is refused); a folder it wrote is always replaced as a whole");
    command->add_option("--page-size", args.pageSize, "Frames per page")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}))
        ->capture_default_str();
    return command;
}

int RunPreview(const PreviewArgs& args) {
    try {
        PreviewWriter writer({args.outDir, args.imagesDir, args.pageSize, args.force});
        const BatchSummary summary = RunFrames(args.frames, [&writer](FrameItem& item) {
            if (item.frame) {
                writer.Add(*item.frame, DatasetFileName(*item.source, *item.frame));
            } else {
                writer.AddFailure(item.source->path, item.error);
            }
            return std::string();
        });
        // Stopped early: the folder stays as it was.
        if (summary.stopSignal == 0) {
            writer.Finish();
            if (!args.frames.quiet) {
                const std::size_t pages = writer.pages();
                WriteError("annoxml: wrote " + args.outDir + "/index.html and " +
                           std::to_string(pages) + (pages == 1 ? " page\n" : " pages\n"));
            }
        }
        return FinishRun(summary, args.frames.quiet);
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
}

}  // namespace annoxml::cli
