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
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

// The first signal received since the last StopOnSignals was installed, 0 for none.
int StopSignal();

}  // namespace annoxml::cli
