#include "link/exchange.h"
#include "link/lock_file.h"
#include "link/serial_port.h"
#include "protocol/frame.h"
#include "tests/support/alarm.h"
#include "tests/support/exchange_with.h"
#include "tests/support/pty_pair.h"
#include "tests/support/serial_controller.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_peer.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using test::ExchangeWith;
using test::SerialController;

// True when another program could take the port now: nobody holds its lock
// or exclusive mode.
bool PortIsFree(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    int exclusive = 1;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    const bool free = exclusive == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

ReplyBlock Filled() {
    ReplyBlock block;
    block.fill(kReplyFill);
    return block;
}

struct AnswerCase {
    const char* name;
    std::optional<Bytes> answer;
    ExchangeOutcome outcome;
    std::size_t kept;
};

// The exchange over a real terminal: one write of the whole frame, the
// answer in the reply block (the first 23 bytes of a longer one), the port
// closed afterwards. Silence and short answers, which wait out the read's
// 2000 ms, are judged over a scripted link in tst_exchange.
TEST(SerialExchange, AnswersAreJudgedByByte3) {
    Bytes long_answer = test::ReplyWithStatus(1, 30);
    long_answer[22] = 0x5A;
    const AnswerCase cases[] = {
        {"accepted", test::ReplyWithStatus(1), ExchangeOutcome::Accepted, 23},
        {"long answer: the first 23 bytes count", long_answer, ExchangeOutcome::Accepted, 23},
    };
    const Frame frame = BuildBrightnessFrame(1, 5, 5);
    for (const AnswerCase& c : cases) {
        test::PtyPair pty;
        ASSERT_TRUE(pty.ok());
        SerialController controller(pty, 1, [&](int) { return c.answer; });
        const auto start = Clock::now();
        const ExchangeResult result = ExchangeWith(SerialTarget{pty.device(), 9600}, frame);
        const auto took = Clock::now() - start;
        EXPECT_EQ(result.outcome, c.outcome) << c.name << ": " << result.reason;
        ReplyBlock expected = Filled();
        for (std::size_t i = 0; i < c.kept; ++i) {
            expected[i] = (*c.answer)[i];
        }
        EXPECT_EQ(result.reply, expected) << c.name;
        ASSERT_EQ(controller.Frames().size(), 1u) << c.name;
        EXPECT_EQ(controller.Frames()[0], frame) << c.name << ": one write of the whole frame";
        EXPECT_TRUE(PortIsFree(pty.device())) << c.name << ": the port is closed afterwards";
        // 200 ms before the read; a full answer ends the read at once.
        EXPECT_GE(took, 190ms) << c.name;
        EXPECT_LT(took, 1500ms) << c.name;
    }
}

// Signals during the wait before the read and during the read itself do not
// lengthen the exchange (every wait runs to one deadline), nor do they fail
// the line.
TEST(SerialExchange, InterruptedWaitsKeepTheirDeadlines) {
    test::PtyPair pty;
    std::optional<SerialController> controller;
    {
        test::BlockAlarm keep_off_the_controller;
        controller.emplace(pty, 1, [](int) { return std::nullopt; });
    }
    const auto start = Clock::now();
    int alarms = 0;
    ExchangeResult result;
    {
        test::AlarmDuring alarm(50ms, 150ms);
        result = ExchangeWith(SerialTarget{pty.device(), 9600}, BuildInitialiseFrame());
        alarms = test::AlarmDuring::count();
    }
    const auto took = Clock::now() - start;
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer);
    EXPECT_EQ(result.reason, "no answer within 2000 ms");
    EXPECT_GE(alarms, 10);
    EXPECT_GE(took, 2150ms);
    EXPECT_LT(took, 2600ms);
    EXPECT_EQ(result.reply, Filled());
}

// Each send opens and closes the port; what the controller sent after its
// answer is discarded, so the second send sees only its own answer.
TEST(SerialExchange, TwoSendsInARow) {
    test::PtyPair pty;
    Bytes chatter = test::ReplyWithStatus(1, 23);
    chatter.insert(chatter.end(), {0, 0, 0, 0, 0, 0});
    SerialController controller(
        pty, 2, [&](int index) { return index == 0 ? chatter : test::ReplyWithStatus(1); });
    const SerialTarget target{pty.device(), 9600};
    const ExchangeResult first = ExchangeWith(target, BuildInitialiseFrame());
    EXPECT_EQ(first.outcome, ExchangeOutcome::Accepted) << first.reason;
    EXPECT_TRUE(PortIsFree(pty.device()));
    const ExchangeResult second = ExchangeWith(target, BuildBrightnessFrame(0, 1, 2));
    EXPECT_EQ(second.outcome, ExchangeOutcome::Accepted) << second.reason;
    EXPECT_TRUE(PortIsFree(pty.device()));
    ASSERT_EQ(controller.Frames().size(), 2u);
    EXPECT_EQ(controller.Frames()[1], BuildBrightnessFrame(0, 1, 2));
}

TEST(SerialExchange, PortThatCannotBeOpenedFailsAtOnce) {
    for (const char* device : {"/dev/lumidex-no-such-port", "", "/dev/null"}) {
        const auto start = Clock::now();
        const ExchangeResult result =
            ExchangeWith(SerialTarget{device, 9600}, BuildInitialiseFrame());
        EXPECT_LT(Clock::now() - start, 100ms) << device;
        EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed) << device;
        EXPECT_FALSE(result.reason.empty()) << device;
    }
}

// A port another program holds fails to open, even for root, and not one
// byte reaches the line.
TEST(SerialExchange, PortHeldByAnotherProgram) {
    test::PtyPair pty;
    const int holder = ::open(pty.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    struct Hold {
        const char* how;
        std::function<void()> take;
        std::function<void()> release;
    };
    const Hold holds[] = {
        {"advisory lock", [&] { ::flock(holder, LOCK_EX); }, [&] { ::flock(holder, LOCK_UN); }},
        {"exclusive mode", [&] { ::ioctl(holder, TIOCEXCL); }, [&] { ::ioctl(holder, TIOCNXCL); }},
    };
    for (const Hold& hold : holds) {
        hold.take();
        const auto start = Clock::now();
        const ExchangeResult result =
            ExchangeWith(SerialTarget{pty.device(), 9600}, BuildInitialiseFrame());
        EXPECT_LT(Clock::now() - start, 100ms) << hold.how;
        EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed) << hold.how;
        EXPECT_NE(result.reason.find("in use"), std::string::npos) << result.reason;
        EXPECT_TRUE(pty.ReadFrame(200ms).empty()) << hold.how << ": nothing written";
        hold.release();
    }
    ::close(holder);
}

TEST(LockFile, NamesAndOwners) {
    const std::pair<const char*, const char*> names[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/ttyS1", "LCK..ttyS1"},
        {"/dev/pts/3", "LCK..pts_3"},
        {"/tmp/ports/ttyX", "LCK..ttyX"},
    };
    for (const auto& [device, name] : names) {
        EXPECT_EQ(LockFileName(device), name) << device;
    }
    // As minicom, cu and lockdev read them: leading blanks, then digits, or
    // a 4-byte binary id; anything else names no process.
    const std::int32_t binary_pid = 4711;
    const std::string binary(reinterpret_cast<const char*>(&binary_pid), sizeof binary_pid);
    const std::pair<std::string, std::optional<long>> owners[] = {
        {"      4711\n", 4711},
        {"4711", 4711},
        {"4711\n", 4711},
        {"  12 extra", 12},
        {"4711\tminicom\n", 4711},
        {"12ab", 12},
        {"\n 4711 minicom root\n", 4711},
        {binary, 4711},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"-5\n", std::nullopt},
        {"0\n", std::nullopt},
        {"garbage\n", std::nullopt},
        {"99999999999\n", std::nullopt},
        {std::string("\0\0\0\0", 4), std::nullopt},
    };
    for (const auto& [text, owner] : owners) {
        EXPECT_EQ(LockFileOwner(text), owner) << text;
    }
}

// A process id that no process has: a child that has exited and been reaped.
long GonePid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

// The classic lock file: a live holder keeps us out before the device is
// even opened; a stale one is removed; ours exists only during the exchange.
TEST(SerialExchange, HonoursTheLockFileConvention) {
    test::TempDir locks;
    SetSerialLockDirectory(locks.path());
    struct Restore {
        ~Restore() { SetSerialLockDirectory("/var/lock"); }
    } restore;
    test::PtyPair pty;
    const auto lock_file = locks / LockFileName(pty.device());
    const SerialTarget target{pty.device(), 9600};
    const Frame frame = BuildInitialiseFrame();
    char live[16];
    std::snprintf(live, sizeof live, "%10ld\n", static_cast<long>(::getppid()));
    {
        test::WriteFileOrFail(lock_file, live);
        const auto start = Clock::now();
        const ExchangeResult result = ExchangeWith(target, frame);
        EXPECT_LT(Clock::now() - start, 100ms);
        EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed);
        EXPECT_NE(result.reason.find("in use"), std::string::npos) << result.reason;
        EXPECT_TRUE(pty.ReadFrame(200ms).empty()) << "nothing written";
        EXPECT_EQ(test::ReadFileOrFail(lock_file), live) << "another's lock stays";
    }
    // A lock that is being written, or that no one can check against a
    // process, is held: only the operator may remove it, and the refusal
    // says which file it is.
    const std::int32_t live_binary = static_cast<std::int32_t>(::getppid());
    const std::string held_texts[] = {
        "",
        "garbage\n",
        std::to_string(::getppid()) + "\tminicom\n",
        std::string(reinterpret_cast<const char*>(&live_binary), sizeof live_binary),
    };
    for (const std::string& held : held_texts) {
        test::WriteFileOrFail(lock_file, held);
        const ExchangeResult result = ExchangeWith(target, frame);
        EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed) << held;
        EXPECT_NE(result.reason.find(lock_file.string()), std::string::npos) << result.reason;
        EXPECT_TRUE(pty.ReadFrame(100ms).empty()) << "nothing written";
        EXPECT_EQ(test::ReadFileOrFail(lock_file), held) << "another's lock stays";
    }
    const std::int32_t gone_binary = static_cast<std::int32_t>(GonePid());
    const std::string stale_texts[] = {
        std::to_string(GonePid()) + "\n",
        "  " + std::to_string(GonePid()) + "\tminicom\n",
        std::string(reinterpret_cast<const char*>(&gone_binary), sizeof gone_binary),
    };
    for (const std::string& stale : stale_texts) {
        test::WriteFileOrFail(lock_file, stale);
        std::string during;
        SerialController controller(pty, 1, [&](int) {
            during = test::ReadFileOrFail(lock_file);
            return std::optional<Bytes>(test::ReplyWithStatus(1));
        });
        const ExchangeResult result = ExchangeWith(target, frame);
        EXPECT_EQ(result.outcome, ExchangeOutcome::Accepted) << stale << result.reason;
        ASSERT_EQ(controller.Frames().size(), 1u);
        char ours[16];
        std::snprintf(ours, sizeof ours, "%10ld\n", static_cast<long>(::getpid()));
        EXPECT_EQ(during, ours) << "our process id while the port is open";
        EXPECT_FALSE(std::filesystem::exists(lock_file)) << "removed at close";
    }
    // Without the lock directory the port is used as before.
    SetSerialLockDirectory(locks / "missing");
    SerialController controller(pty, 1,
                                [](int) { return std::optional<Bytes>(test::ReplyWithStatus(1)); });
    const ExchangeResult result = ExchangeWith(target, frame);
    EXPECT_EQ(result.outcome, ExchangeOutcome::Accepted) << result.reason;
}

TEST(SerialExchange, LineSettingsAtTheGivenBaud) {
    for (const int baud : {9600, 57600}) {
        test::PtyPair pty;
        auto port = MakeSerialPort(pty.device(), baud);
        ASSERT_TRUE(port->Open()) << port->error();
        const int observer = ::open(pty.device().c_str(), O_RDONLY | O_NOCTTY);
        termios line{};
        ASSERT_EQ(::tcgetattr(observer, &line), 0);
        ::close(observer);
        port->Close();
        EXPECT_EQ(::cfgetospeed(&line), baud == 9600 ? B9600 : B57600) << baud;
        EXPECT_EQ(::cfgetispeed(&line), baud == 9600 ? B9600 : B57600) << baud;
        EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u) << "no parity, one stop bit";
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u) << "raw line";
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u) << "0x11 and 0x13 are data";
    }
}

// A cable pulled during the exchange fails it at once instead of hanging.
TEST(SerialExchange, DeviceThatGoesAwayFailsTheExchange) {
    test::PtyPair pty;
    SerialController unplug(pty, 1, [&](int) {
        pty.Hangup();
        return std::optional<Bytes>();
    });
    const SerialTarget target{pty.device(), 9600};
    const auto start = Clock::now();
    const ExchangeResult during = ExchangeWith(target, BuildInitialiseFrame());
    EXPECT_LT(Clock::now() - start, 1500ms);
    EXPECT_EQ(during.outcome, ExchangeOutcome::NoAnswer) << "the frame went out: " << during.reason;
    EXPECT_EQ(unplug.Frames().size(), 1u);
    // And a device that is gone before the send fails to open.
    const ExchangeResult after = ExchangeWith(target, BuildInitialiseFrame());
    EXPECT_EQ(after.outcome, ExchangeOutcome::LinkFailed) << after.reason;
}

} // namespace
} // namespace lumidex
