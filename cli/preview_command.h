// `annoxml preview`: static HTML pages that draw every shape of the frames.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace annoxml::cli {

struct PreviewArgs {
    std::vector<std::string> inputs;
    std::string outDir;
    std::string imagesDir;
    std::size_t pageSize = 100;
    bool quiet = false;
};

CLI::App* AddPreview(CLI::App& app, PreviewArgs& args);
int RunPreview(const PreviewArgs& args);

}  // namespace annoxml::cli
