#pragma once

#include <chrono>
#include <csignal>
#include <sys/time.h>

namespace lumidex::test {

// Interrupts the waits of the thread that armed it: SIGALRM on a handler that
// does nothing, installed without SA_RESTART, so a blocking call returns
// EINTR. Fires first after `first`, then every `every` (zero: once). Threads
// started while a BlockAlarm is alive never take the signal.
class AlarmDuring {
public:
    AlarmDuring(std::chrono::milliseconds first, std::chrono::milliseconds every);
    AlarmDuring(const AlarmDuring&) = delete;
    AlarmDuring& operator=(const AlarmDuring&) = delete;
    ~AlarmDuring();
    // How many times the signal arrived.
    static int count();

private:
    struct sigaction previous_ {};
};

// Blocks SIGALRM in this thread while alive, so helper threads started
// meanwhile inherit the block and leave the signal to the thread under test.
class BlockAlarm {
public:
    BlockAlarm();
    BlockAlarm(const BlockAlarm&) = delete;
    BlockAlarm& operator=(const BlockAlarm&) = delete;
    ~BlockAlarm();
};

} // namespace lumidex::test
