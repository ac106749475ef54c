#include "tests/support/alarm.h"

#include <atomic>
#include <pthread.h>

namespace lumidex::test {
namespace {

std::atomic<int> g_alarms{0};

extern "C" void CountAlarm(int) {
    g_alarms.fetch_add(1, std::memory_order_relaxed);
}

timeval ToTimeval(std::chrono::milliseconds ms) {
    return {static_cast<time_t>(ms.count() / 1000),
            static_cast<suseconds_t>(ms.count() % 1000 * 1000)};
}

void SetAlarmBlocked(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

} // namespace

AlarmDuring::AlarmDuring(std::chrono::milliseconds first, std::chrono::milliseconds every) {
    g_alarms = 0;
    struct sigaction action {};
    action.sa_handler = CountAlarm;
    action.sa_flags = 0; // no SA_RESTART: interrupted calls return EINTR
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, &previous_);
    const itimerval timer{ToTimeval(every), ToTimeval(first)};
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

AlarmDuring::~AlarmDuring() {
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous_, nullptr);
}

int AlarmDuring::count() {
    return g_alarms.load();
}

BlockAlarm::BlockAlarm() {
    SetAlarmBlocked(true);
}

BlockAlarm::~BlockAlarm() {
    SetAlarmBlocked(false);
}

} // namespace lumidex::test
