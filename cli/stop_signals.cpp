#include "stop_signals.h"

#include <atomic>

namespace annoxml::cli {
namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void RequestStop(int signal) {
    int none = 0;
    stopSignal.compare_exchange_strong(none, signal);
}

}  // namespace

#ifdef _WIN32

StopOnSignals::StopOnSignals() {
    stopSignal = 0;
    previousInt_ = std::signal(SIGINT, RequestStop);
    previousTerm_ = std::signal(SIGTERM, RequestStop);
}

StopOnSignals::~StopOnSignals() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
}

#else

StopOnSignals::StopOnSignals() {
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
}

StopOnSignals::~StopOnSignals() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
}

#endif

int StopSignal() { return stopSignal; }

}  // namespace annoxml::cli
