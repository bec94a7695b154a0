// Which files a `convert` run reads and where each JSON document goes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace annoxml::cli {

struct Job {
    std::string input;
    std::filesystem::path output;
    // Set when the job is known to fail before it runs (a folder that cannot be listed, two
    // inputs with the same output); the job is then reported with this message.
    std::string problem;
};

struct OutputChoice {
    std::string outputFile;  // -o: only with a single input file
    std::string outDir;      // --out-dir: mirrors the inputs' relative paths
};

// Every `*.xml` file below `folder`, recursively, sorted. Throws std::filesystem::filesystem_error
// when the folder cannot be listed.
std::vector<std::filesystem::path> XmlFilesBelow(const std::filesystem::path& folder);

// One job per input file, and per `*.xml` file below each input folder, in input order.
std::vector<Job> PlanJobs(const std::vector<std::string>& inputs, const OutputChoice& choice);

}  // namespace annoxml::cli
