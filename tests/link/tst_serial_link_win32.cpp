// The serial exchange over a COM port. Wine maps COMn to a device through
// its dosdevices folder, so scripts/test-windows links two COM names to the
// two ends of a relayed pseudo-terminal pair (test::ComPairFromEnvironment).
#include "link/exchange.h"
#include "link/serial_port.h"
#include "link/system_error_win32.h"
#include "protocol/frame.h"
#include "tests/support/exchange_with.h"
#include "tests/support/serial_controller.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <thread>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using test::ExchangeWith;
using test::SerialController;

HANDLE OpenCom(const std::string& name) {
    return ::CreateFileW(WideFromUtf8("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                         nullptr, OPEN_EXISTING, 0, nullptr);
}

// The controller's end of the line: reads return at once with what is there.
class ComEnd final : public test::SerialEnd {
public:
    explicit ComEnd(const std::string& name) : handle_(OpenCom(name)) {
        if (ok()) {
            COMMTIMEOUTS immediate{};
            immediate.ReadIntervalTimeout = MAXDWORD;
            ::SetCommTimeouts(handle_, &immediate);
        }
    }
    ComEnd(const ComEnd&) = delete;
    ComEnd& operator=(const ComEnd&) = delete;
    ~ComEnd() override {
        if (ok()) {
            ::CloseHandle(handle_);
        }
    }
    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

    // What the program wrote: waits up to `timeout` for the first byte,
    // then until the line has been quiet for 50 ms.
    Bytes ReadFrame(std::chrono::milliseconds timeout) override {
        Bytes frame;
        const auto deadline = Clock::now() + timeout;
        auto last = Clock::now();
        for (;;) {
            std::uint8_t buffer[256];
            DWORD got = 0;
            if (!::ReadFile(handle_, buffer, sizeof buffer, &got, nullptr)) {
                return frame;
            }
            if (got > 0) {
                frame.insert(frame.end(), buffer, buffer + got);
                last = Clock::now();
                continue;
            }
            if (frame.empty() ? Clock::now() > deadline : Clock::now() - last > 50ms) {
                return frame;
            }
            std::this_thread::sleep_for(2ms);
        }
    }
    void Write(const Bytes& bytes) override {
        DWORD written = 0;
        ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

private:
    HANDLE handle_;
};

class ComPortExchange : public testing::Test {
protected:
    void SetUp() override {
        pair_ = test::ComPairFromEnvironment();
        if (!pair_) {
            GTEST_SKIP() << "no COM port pair named in LUMIDEX_TEST_COM_PAIR";
        }
        controller_.emplace(pair_->controller);
        ASSERT_TRUE(controller_->ok()) << "cannot open " << pair_->controller;
    }
    const std::string& port() const { return pair_->program; }
    SerialTarget target(int baud = 9600) const { return {port(), baud}; }
    ComEnd& controller() { return *controller_; }

private:
    std::optional<test::ComPair> pair_;
    std::optional<ComEnd> controller_;
};

TEST_F(ComPortExchange, AnswersAreJudgedByByte3) {
    struct Case {
        const char* name;
        std::optional<Bytes> answer;
        ExchangeOutcome outcome;
        std::size_t bytes_kept;
    };
    const Case cases[] = {
        {"accepted", test::ReplyWithStatus(1), ExchangeOutcome::Accepted, 23},
        {"three bytes keep the fill in byte 3", test::ReplyWithStatus(1, 3),
         ExchangeOutcome::Rejected, 3},
        {"silent", std::nullopt, ExchangeOutcome::NoAnswer, 0},
    };
    for (const Case& c : cases) {
        SerialController peer(controller(), 1, [&](int) { return c.answer; });
        const Frame frame = BuildInitialiseFrame();
        const ExchangeResult result = ExchangeWith(target(), frame);
        EXPECT_EQ(result.outcome, c.outcome) << c.name << ": " << result.reason;
        for (std::size_t i = 0; i < kReplySize; ++i) {
            const std::uint8_t expected = i < c.bytes_kept ? (*c.answer)[i] : kReplyFill;
            EXPECT_EQ(result.reply[i], expected) << c.name << " byte " << i;
        }
        ASSERT_EQ(peer.Frames().size(), 1u) << c.name;
        EXPECT_EQ(peer.Frames()[0], frame) << c.name;
    }
}

// Bytes waiting on the line before an exchange are discarded when the port
// opens, so they are never taken for the answer.
TEST_F(ComPortExchange, StaleBytesOnTheLineAreDiscarded) {
    controller().Write(test::ReplyWithStatus(1));
    std::this_thread::sleep_for(100ms);
    SerialController peer(controller(), 1, [](int) { return std::nullopt; });
    const ExchangeResult result = ExchangeWith(target(57600), BuildInitialiseFrame());
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer) << result.reason;
    for (std::size_t i = 0; i < kReplySize; ++i) {
        EXPECT_EQ(result.reply[i], kReplyFill) << "byte " << i << " came from the stale bytes";
    }
    EXPECT_EQ(peer.Frames().size(), 1u);
}

TEST_F(ComPortExchange, PortHeldByAnotherProgramFailsAtOnce) {
    const HANDLE holder = OpenCom(port());
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // Windows' serial drivers refuse a second opening; Wine's mapping to a
    // device file does not.
    if (const HANDLE second = OpenCom(port()); second != INVALID_HANDLE_VALUE) {
        ::CloseHandle(second);
        ::CloseHandle(holder);
        GTEST_SKIP() << "this system lets a COM port be opened twice";
    }
    const auto start = Clock::now();
    const ExchangeResult result = ExchangeWith(target(), BuildInitialiseFrame());
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed);
    EXPECT_NE(result.reason.find("in use"), std::string::npos) << result.reason;
    ::CloseHandle(holder);
    EXPECT_TRUE(controller().ReadFrame(200ms).empty()) << "no byte was written";
}

TEST(ComPort, NamesThatOpenNothingFailAtOnce) {
    for (const char* name : {"", "COM97", "NOTAPORT"}) {
        const auto start = Clock::now();
        const ExchangeResult result =
            ExchangeWith(SerialTarget{name, 9600}, BuildInitialiseFrame());
        EXPECT_LT(Clock::now() - start, 500ms) << name;
        EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed) << name;
        EXPECT_FALSE(result.reason.empty()) << name;
    }
}

} // namespace
} // namespace lumidex
