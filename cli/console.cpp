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

std::string InputPath(const std::string& argument) {
    return argument == kStandardStream ? "/dev/stdin" : argument;
}

std::string OutputPath(const std::string& argument) {
    return argument == kStandardStream ? "/dev/stdout" : argument;
}

std::string InputName(const std::string& argument) {
    return argument == kStandardStream ? "standard input" : argument;
}

}  // namespace annoxml::cli
