#include "preview_command.h"

#include "annoxml/preview.h"
#include "console.h"
#include "frame_sink.h"

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
                     "Folder where each frame's image is looked for by its FileName, before the "
                     "annotation file's own folder")
        ->check(CLI::ExistingDirectory);
    command->add_option("--page-size", args.pageSize, "Frames per page")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}))
        ->capture_default_str();
    return command;
}

int RunPreview(const PreviewArgs& args) {
    try {
        PreviewWriter writer({args.outDir, args.imagesDir, args.pageSize});
        const BatchSummary summary = RunFrames(args.frames, CollectInto(writer));
        // Stopped early: the pages completed so far stay, but no index claims a partial count.
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
