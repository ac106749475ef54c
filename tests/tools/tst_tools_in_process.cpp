// lumidex-sim's event loop and lumidex-send's run, both inside the test, so
// the same checks run on every system (child processes and signals are not
// needed): what the sender prints and returns, and what the card saw.
#include "tests/support/addresses.h"
#include "tests/support/serial_controller.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_peer.h"
#include "tools/send/send_cli.h"
#include "tools/sim/simulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

namespace lumidex {
namespace {

using namespace std::chrono_literals;

// An output stream another thread may wait on for a text to appear.
class WatchedOutput : public std::stringbuf {
public:
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout,
                                 [&] { return text_.find(text) != std::string::npos; });
    }
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        {
            std::lock_guard lock(mutex_);
            text_.append(s, static_cast<std::size_t>(n));
        }
        changed_.notify_all();
        return n;
    }
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            const char ch = traits_type::to_char_type(c);
            xsputn(&ch, 1);
        }
        return traits_type::not_eof(c);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
};

// lumidex-sim on a thread of its own until it has taken --count frames.
class SimThread {
public:
    explicit SimThread(std::vector<std::string> args) : out_(&output_), err_(&errors_) {
        args.insert(args.begin(), {"--json", "--udp", std::string(kAddress) + ":10006"});
        std::string error;
        const auto options = ParseSimOptions(args, error);
        EXPECT_TRUE(options) << error;
        if (options) {
            options_ = *options;
            thread_ = std::thread([this] {
                status_ = RunSimulator(options_, out_, err_);
                done_ = true;
            });
        }
    }
    SimThread(const SimThread&) = delete;
    SimThread& operator=(const SimThread&) = delete;
    ~SimThread() {
        // A test that sent fewer frames than --count: fill the count up with
        // stray bytes so that the loop ends.
        test::UdpPeer filler("127.0.0.1", 0,
                             [](const test::UdpPeer::Bytes&, int) { return std::nullopt; });
        for (int i = 0; i < 200 && thread_.joinable() && !done_; ++i) {
            filler.SendTo(kAddress, 10006, {0});
            std::this_thread::sleep_for(50ms);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Waits until the card listens; false when it did not start in time.
    bool Listening() { return output_.WaitFor("udp: ", 10s); }
    // Waits for the loop to end after its --count frames; its exit status,
    // or -1 when it is still running.
    int Status() {
        for (int i = 0; i < 200 && !done_; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        if (!done_) {
            return -1;
        }
        thread_.join();
        return status_;
    }
    std::string Output() { return output_.Text(); }
    std::string Errors() { return errors_.Text(); }

    static inline const char* const kAddress =
        test::ControllerAddress(test::kToolLoopTestsController);

private:
    SimOptions options_;
    WatchedOutput output_;
    WatchedOutput errors_;
    std::ostream out_;
    std::ostream err_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    int status_ = -1;
};

struct SendRun {
    int status = -1;
    std::string out;
    std::string err;
};

SendRun RunSendWith(const std::vector<std::string>& args) {
    std::string error;
    const auto options = ParseSendOptions(args, error);
    EXPECT_TRUE(options) << error;
    SendRun run;
    if (!options) {
        return run;
    }
    std::ostringstream out;
    std::ostringstream err;
    run.status = RunSend(*options, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

class ToolsInProcess : public testing::Test {
protected:
    void SetUp() override {
        config_ = (dir_ / "Config.ini").string();
        test::WriteFileOrFail(dir_ / "Config.ini", "[Set]\r\nADD485=05\r\nwsv1=5\r\nwsv6=2\r\n");
    }
    const std::string& config() const { return config_; }

private:
    test::TempDir dir_;
    std::string config_;
};

// The card's answer decides what the sender prints and returns; content is
// tried twice, as the dialog does, before it counts as failed.
TEST_F(ToolsInProcess, ContentOverUdp) {
    struct Case {
        const char* name;
        const char* reply;
        int frames; // what the card takes
        int status;
        const char* result;
    };
    const Case cases[] = {
        {"accepted at once", "ok", 1, 0, "Sent successfully!"},
        {"rejected twice", "nak", 2, 1, "Send failed!"},
        {"first dropped, then accepted", "ok --drop 1", 2, 0, "Sent successfully!"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--count", std::to_string(c.frames), "--reply"};
        std::istringstream reply(c.reply);
        for (std::string word; reply >> word;) {
            args.push_back(word);
        }
        SimThread sim(args);
        ASSERT_TRUE(sim.Listening()) << c.name << ": " << sim.Errors();
        const SendRun sent = RunSendWith(
            {"--config", config(), "--udp", SimThread::kAddress, "--line", "1=3.14159", "content"});
        EXPECT_EQ(sent.status, c.status) << c.name << ": " << sent.err;
        EXPECT_NE(sent.out.find(c.result), std::string::npos) << c.name << ": " << sent.out;
        ASSERT_EQ(sim.Status(), 0) << c.name << ": " << sim.Errors();
        const std::string seen = sim.Output();
        // Line 1 formatted with 5 digits and 2 decimal places, at address 5.
        EXPECT_NE(seen.find("\"command\":\"content\",\"address\":5"), std::string::npos)
            << c.name << ": " << seen;
        EXPECT_NE(seen.find("3.14"), std::string::npos) << c.name << ": " << seen;
    }
}

// Over the pair of COM ports scripts/test-windows lays out under Wine.
TEST_F(ToolsInProcess, InitialiseOverAComPort) {
    const auto ports = test::ComPairFromEnvironment();
    if (!ports) {
        GTEST_SKIP() << "no COM port pair named in LUMIDEX_TEST_COM_PAIR";
    }
    SimThread sim({"--count", "1", "--serial", ports->controller});
    ASSERT_TRUE(sim.Listening()) << sim.Errors();
    const SendRun sent = RunSendWith({"--config", config(), "--serial", ports->program, "init"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_NE(sent.out.find("FE 05 00 CC FF 01 72"), std::string::npos) << sent.out;
    ASSERT_EQ(sim.Status(), 0) << sim.Errors();
    EXPECT_NE(sim.Output().find("\"link\":\"serial\""), std::string::npos) << sim.Output();
}

} // namespace
} // namespace lumidex
