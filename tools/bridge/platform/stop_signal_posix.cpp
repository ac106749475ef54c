#include "tools/bridge/platform/stop_signal.h"

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace lumidex {
namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

} // namespace

StopSignal::StopSignal() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// The signals stay blocked: a second one while the bridge stops must not
// end it half-way.
StopSignal::~StopSignal() = default;

bool StopSignal::WaitFor(std::chrono::milliseconds timeout) {
    const sigset_t signals = StopSignals();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const timespec wait{static_cast<std::time_t>(seconds.count()),
                        static_cast<long>(std::chrono::nanoseconds(timeout - seconds).count())};
    const int signal = sigtimedwait(&signals, nullptr, &wait);
    return signal == SIGTERM || signal == SIGINT;
}

void StopSignal::Raise() {
    // To the process, not this thread: the waiting thread takes it.
    kill(getpid(), SIGTERM);
}

std::string_view StopRequestName() {
    return "SIGTERM or SIGINT";
}

} // namespace lumidex
