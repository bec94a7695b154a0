#include "preview_command.h"

#include "annoxml/preview.h"
#include "console.h"
#include "pending_frames.h"

namespace annoxml::cli {

CLI::App* AddPreview(CLI::App& app, PreviewArgs& args) {
    CLI::App* command = app.add_subcommand(
        "preview",
        "Write static HTML pages that draw every shape over its image, with an index of "
        "statistics, categories and failed files. No server or network needed: open "
        "DIR/index.html in a browser");
    command->add_option("INPUT", args.inputs, "Annotation files, or folders to search for *.xml")
        ->required();
    command->add_option("--out-dir", args.outDir, "Folder for index.html and the pages")
        ->required();
    command
        ->add_option("--images", args.imagesDir,
                     "Folder to look for each frame's image by its FileName (before the "
                     "annotation file's own folder)")
        ->check(CLI::ExistingDirectory);
    command->add_option("--page-size", args.pageSize, "Frames per page")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}))
        ->capture_default_str();
    command->add_flag("-q,--quiet", args.quiet, "Print only failures: no summary");
    return command;
}

int RunPreview(const PreviewArgs& args) {
    try {
        PreviewWriter writer({args.outDir, args.imagesDir, args.pageSize});
        const PendingSummary summary = ReadFramesInOrder(
            args.inputs, [&](const Frame& frame) { writer.Add(frame); },
            [&](const std::string& path, const std::string& message) {
                writer.AddFailure(path, message);
            });
        writer.Finish();
        if (!args.quiet) {
            WriteError("annoxml: " + std::to_string(summary.read) + " frames on " +
                       std::to_string(writer.pages()) + " pages, " +
                       std::to_string(summary.failed) + " failed; open " + args.outDir +
                       "/index.html\n");
        }
        return summary.failed == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        WriteError(std::string("annoxml: ") + error.what() + "\n");
        return 1;
    }
}

}  // namespace annoxml::cli
