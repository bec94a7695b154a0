#include "console.h"

#include <unistd.h>

#include <cstdio>

namespace annoxml::cli {

SilencedStdout::SilencedStdout() : original_(std::cout.rdbuf(&null_)), out_(original_) {}

SilencedStdout::~SilencedStdout() {
    out_.flush();
    std::cout.rdbuf(original_);
}

void WriteError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace annoxml::cli
