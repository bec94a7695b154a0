// The command-line tool's entry point, called by main() or, on Windows, by wmain().
#pragma once

namespace annoxml::cli {

// Runs the tool on `argv` (UTF-8) and returns its exit status.
int Main(int argc, char** argv);

}  // namespace annoxml::cli
