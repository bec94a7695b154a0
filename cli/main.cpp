// annoxml: converts endoscopy annotation XML files to COCO-style JSON and shows what they hold.
#ifndef _WIN32
#include <malloc.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "agree_command.h"
#include "batch_plan.h"
#include "batch_run.h"
#include "check_command.h"
#include "console.h"
#include "dataset_command.h"
#include "eval_command.h"
#include "masks_command.h"
#include "preview_command.h"
#include "read_command.h"
#include "stats_command.h"
#include "tool.h"
#include "yolo_command.h"

namespace {

using namespace annoxml::cli;

constexpr int kUsageError = 2;

struct ConvertArgs {
    std::vector<std::string> inputs;
    OutputChoice output;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    bool quiet = false;
};

struct ReadArgs {
    std::string input;
    std::string section = "all";
};

CLI::App* AddConvert(CLI::App& app, ConvertArgs& args) {
    CLI::App* command = app.add_subcommand(
        "convert", "Convert annotation files to COCO JSON, beside each input by default");
    command
        ->add_option("INPUT", args.inputs,
                     "Annotation files, or folders to search for *.xml; - reads standard input "
                     "(then -o is needed)")
        ->required();
    CLI::Option* output = command->add_option(
        "-o,--output", args.output.outputFile,
        "JSON file to write (only with a single input file); - writes standard output");
    command
        ->add_option("--out-dir", args.output.outDir,
                     "Folder for the JSON files, mirroring the inputs' relative paths")
        ->excludes(output);
    command
        ->add_option("-j,--jobs", args.threads,
                     "Files converted at the same time (default: the machine's hardware threads)")
        ->check(CLI::Range(1u, 1024u));
    command->add_flag("-q,--quiet", args.quiet, "Print only failures: no progress bar, no summary");
    return command;
}

CLI::App* AddRead(CLI::App& app, ReadArgs& args) {
    CLI::App* command =
        app.add_subcommand("read", "Print the sections of an annotation file as JSON");
    command->add_option("INPUT", args.input, "Annotation file; - reads standard input")->required();
    command->add_option("-s,--section", args.section, "Section to print")
        ->check(CLI::IsMember(SectionNames()))
        ->capture_default_str();
    return command;
}

void CheckConvertArgs(const ConvertArgs& args) {
    if (args.output.outputFile.empty()) {
        if (std::find(args.inputs.begin(), args.inputs.end(), kStandardStream) !=
            args.inputs.end()) {
            throw CLI::ValidationError(
                "INPUT", "- (standard input) needs -o FILE, or -o - for standard output");
        }
        return;
    }
    std::error_code error;
    const std::string& input = args.inputs.front();
    if (args.inputs.size() != 1 ||
        (input != kStandardStream &&
         std::filesystem::is_directory(std::filesystem::u8path(input), error))) {
        throw CLI::ValidationError("--output",
                                   "needs a single input file; use --out-dir for several");
    }
}

int Convert(const ConvertArgs& args) {
    const std::vector<Job> jobs = PlanJobs(args.inputs, args.output);
    BatchOptions options;
    options.threads = args.threads;
    options.progressBar = !args.quiet && jobs.size() > 1 && StderrIsTerminal();
    const BatchSummary summary = RunBatch(jobs, options);
    if (!args.quiet) {
        WriteError(SummaryLine(summary));
    }
    return ExitStatus(summary);
}

int Read(const ReadArgs& args, std::ostream& out) {
    try {
        const nlohmann::ordered_json sections = ReadSection(InputPath(args.input), args.section);
        out << sections.dump(4) << '\n' << std::flush;
        if (!out) {
            WriteError("annoxml: cannot write to standard output\n");
            return 1;
        }
        return 0;
    } catch (const std::exception& error) {
        WriteError("annoxml: " + InputName(args.input) + ": " + error.what() + "\n");
        return 1;
    }
}

}  // namespace

// The tool; main() on POSIX systems, windows_main.cpp's wmain() on Windows. `argv` is UTF-8.
int annoxml::cli::Main(int argc, char** argv) {
#ifndef _WIN32
    // Memory freed by one document is kept for the next instead of being returned to the system
    // and faulted in again, which costs more than parsing a small file.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
    SilencedStdout silenced;
    std::ostream& out = silenced.out();

    CLI::App app{"Converts endoscopy annotation XML files to COCO-style JSON.", "annoxml"};
    app.set_version_flag("--version", "annoxml " ANNOXML_VERSION);
    app.require_subcommand(1);
    // Paths such as /tmp/x are paths, not Windows-style options (CLI11's default there).
    app.allow_windows_style_options(false);
    ConvertArgs convertArgs;
    ReadArgs readArgs;
    const CLI::App* convert = AddConvert(app, convertArgs);
    const CLI::App* read = AddRead(app, readArgs);
    DatasetArgs datasetArgs;
    const CLI::App* dataset = AddDataset(app, datasetArgs);
    CheckArgs checkArgs;
    const CLI::App* check = AddCheck(app, checkArgs);
    PreviewArgs previewArgs;
    const CLI::App* preview = AddPreview(app, previewArgs);
    StatsArgs statsArgs;
    const CLI::App* stats = AddStats(app, statsArgs);
    MasksArgs masksArgs;
    const CLI::App* masks = AddMasks(app, masksArgs);
    YoloArgs yoloArgs;
    const CLI::App* yolo = AddYolo(app, yoloArgs);
    EvalArgs evalArgs;
    const CLI::App* eval = AddEval(app, evalArgs);
    AgreeArgs agreeArgs;
    const CLI::App* agree = AddAgree(app, agreeArgs);
    try {
        app.parse(argc, argv);
        if (*convert) {
            CheckConvertArgs(convertArgs);
        }
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error, out, std::cerr);
        return status == 0 ? 0 : kUsageError;
    }
    if (*read) {
        return Read(readArgs, out);
    }
    if (*dataset) {
        return RunDataset(datasetArgs);
    }
    if (*check) {
        return RunCheck(checkArgs, out);
    }
    if (*preview) {
        return RunPreview(previewArgs);
    }
    if (*stats) {
        return RunStats(statsArgs, out);
    }
    if (*masks) {
        return RunMasks(masksArgs);
    }
    if (*yolo) {
        return RunYolo(yoloArgs);
    }
    if (*eval) {
        return RunEval(evalArgs, out);
    }
    if (*agree) {
        return RunAgree(agreeArgs, out);
    }
    return Convert(convertArgs);
}

#ifndef _WIN32
int main(int argc, char** argv) { return annoxml::cli::Main(argc, argv); }
#endif
