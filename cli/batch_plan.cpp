#include "batch_plan.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "console.h"

namespace fs = std::filesystem;

namespace annoxml::cli {
namespace {

fs::path WithJsonExtension(fs::path path) { return path.replace_extension(".json"); }

fs::path OutputFor(const fs::path& file, const fs::path& root, const OutputChoice& choice) {
    if (!choice.outputFile.empty()) {
        return fs::u8path(choice.outputFile);
    }
    if (choice.outDir.empty()) {
        return WithJsonExtension(file);
    }
    const fs::path relative = root.empty() ? file.filename() : file.lexically_relative(root);
    return fs::u8path(choice.outDir) / WithJsonExtension(relative);
}

bool IsDirectory(const std::string& input) {
    if (input == kStandardStream) return false;
    std::error_code error;
    return fs::is_directory(fs::u8path(input), error);
}

fs::path Normalised(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal();
}

// A later job whose output equals an earlier job's output, or its own input, would destroy data.
void MarkClashingOutputs(std::vector<Job>& jobs) {
    std::map<fs::path, std::string> owners;
    for (Job& job : jobs) {
        if (!job.problem.empty()) {
            continue;
        }
        const fs::path output = Normalised(fs::u8path(OutputPath(job.output.string())));
        if (output == Normalised(fs::u8path(InputPath(job.input)))) {
            job.problem = "output " + job.output.generic_string() + " would replace the input";
            continue;
        }
        const auto [owner, added] = owners.emplace(output, job.input);
        if (!added) {
            job.problem =
                "output " + job.output.generic_string() + " is also the output of " + owner->second;
        }
    }
}

}  // namespace

std::vector<fs::path> XmlFilesBelow(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        std::error_code error;
        if (entry.path().extension() == ".xml" && entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<Job> PlanJobs(const std::vector<std::string>& inputs, const OutputChoice& choice) {
    std::vector<Job> jobs;
    for (const std::string& input : inputs) {
        if (!IsDirectory(input)) {
            jobs.push_back({input, OutputFor(fs::u8path(input), {}, choice), {}});
            continue;
        }
        try {
            const fs::path folder = fs::u8path(input);
            for (const fs::path& file : XmlFilesBelow(folder)) {
                jobs.push_back({file.generic_string(), OutputFor(file, folder, choice), {}});
            }
        } catch (const fs::filesystem_error& error) {
            jobs.push_back({input, {}, "cannot list folder: " + error.code().message()});
        }
    }
    MarkClashingOutputs(jobs);
    return jobs;
}

}  // namespace annoxml::cli
