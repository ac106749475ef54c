#include "tools/bridge/http_stop.h"

#include <csignal>
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

StopSignal::~StopSignal() = default;

void StopSignal::Wait() {
    const sigset_t signals = StopSignals();
    int signal = 0;
    sigwait(&signals, &signal);
}

void StopSignal::Raise() {
    ::kill(::getpid(), SIGTERM);
}

} // namespace lumidex
