// The tool's own use of the standard streams.
#pragma once

#include <chrono>
#include <cstddef>
#include <iostream>
#include <streambuf>
#include <string>

namespace annoxml::cli {

// Swallows everything. Keeps no buffer and no state, so several threads may write at once.
class NullBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// While alive, std::cout goes nowhere (the library echoes every path it loads there) and the
// tool prints its own output through out().
class SilencedStdout {
  public:
    SilencedStdout();
    ~SilencedStdout();
    SilencedStdout(const SilencedStdout&) = delete;
    SilencedStdout& operator=(const SilencedStdout&) = delete;

    std::ostream& out() { return out_; }

  private:
    NullBuffer null_;
    std::streambuf* original_;
    std::ostream out_;
};

// Writes the whole text to standard error in one call, so lines from several threads stay whole.
void WriteError(const std::string& text);

bool StderrIsTerminal();

// "1 file", "2 files": the count and the noun, which gains an "s" unless the count is 1.
std::string Counted(std::size_t count, const std::string& noun);

// A one-line progress bar on standard error that failure lines scroll above. Not thread-safe:
// callers serialise Report().
class ProgressBar {
  public:
    ProgressBar(std::size_t total, bool enabled) : total_(total), enabled_(enabled) {}

    // Writes `lines` (whole lines, may be empty) and redraws the bar for `done` finished items
    // when it is due: at most every 100 ms, after lines, and at the end.
    void Report(const std::string& lines, std::size_t done);
    // Removes the bar, leaving the cursor at the start of an empty line.
    void Clear() const;

  private:
    std::string Bar(std::size_t done) const;

    const std::size_t total_;
    const bool enabled_;
    std::chrono::steady_clock::time_point drawn_{};
};
// "-" as an input or output argument stands for the standard stream.
constexpr const char* kStandardStream = "-";

// The path that loads an input argument: standard input for "-".
std::string InputPath(const std::string& argument);

// The path that an output argument writes: standard output for "-".
std::string OutputPath(const std::string& argument);

// How an input argument is named in messages: "standard input" for "-".
std::string InputName(const std::string& argument);

}  // namespace annoxml::cli
