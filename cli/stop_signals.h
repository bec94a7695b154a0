// Stopping long runs cleanly on SIGINT and SIGTERM.
#pragma once

#include <csignal>

namespace annoxml::cli {

// Installs a handler for SIGINT and SIGTERM for its lifetime that only records the signal; the
// run polls StopSignal() and finishes what is under way.
class StopOnSignals {
  public:
    StopOnSignals();
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

  private:
#ifdef _WIN32
    // Windows has no sigaction; its C runtime calls a SIGINT handler on Ctrl+C and Ctrl+Break.
    using Handler = void (*)(int);
    Handler previousInt_ = SIG_DFL;
    Handler previousTerm_ = SIG_DFL;
#else
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
#endif
};

// The first signal received since the last StopOnSignals was installed, 0 for none.
int StopSignal();

}  // namespace annoxml::cli
