#include "console.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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

#ifdef _WIN32
bool StderrIsTerminal() { return _isatty(2) != 0; }
#else
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
#endif

std::string Counted(std::size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

namespace {
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr std::size_t kBarWidth = 30;
constexpr const char* kClearLine = "\r\033[K";
}  // namespace

void ProgressBar::Report(const std::string& lines, std::size_t done) {
    if (!enabled_) {
        if (!lines.empty()) WriteError(lines);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (lines.empty() && done != total_ && now - drawn_ < kRedraw) {
        return;
    }
    drawn_ = now;
    WriteError(kClearLine + lines + Bar(done));
}

void ProgressBar::Clear() const {
    if (enabled_) {
        WriteError(kClearLine);
    }
}

std::string ProgressBar::Bar(std::size_t done) const {
    const std::size_t filled = total_ == 0 ? kBarWidth : done * kBarWidth / total_;
    return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
           std::to_string(done) + "/" + std::to_string(total_);
}

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
