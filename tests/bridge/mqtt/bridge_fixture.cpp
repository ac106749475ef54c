#include "tests/bridge/mqtt/bridge_fixture.h"

#include "link/address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lumidex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

void RunOrFail(const std::vector<std::string>& argv) {
    const RunOutput run = RunProgram(argv);
    ASSERT_EQ(run.status, 0) << argv[0] << " " << argv[1] << ": " << run.err;
}

} // namespace

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

void MakeCa(const std::filesystem::path& dir, const std::string& name) {
    RunOrFail({LUMIDEX_OPENSSL_EXE, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
               (dir / (name + ".key")).string(), "-out", (dir / (name + ".crt")).string(),
               "-days", "1", "-subj", "/CN=Lumidex test CA " + name});
}

void MakeServerCertificate(const std::filesystem::path& dir, const std::string& ca,
                           const std::string& name, const std::string& alt_name, int days) {
    const std::string csr = (dir / (name + ".csr")).string();
    RunOrFail({LUMIDEX_OPENSSL_EXE, "req", "-newkey", "rsa:2048", "-nodes", "-keyout",
               (dir / (name + ".key")).string(), "-out", csr, "-subj", "/CN=" + name});
    WriteFileOrFail(dir / (name + ".ext"), "subjectAltName=" + alt_name + "\n");
    RunOrFail({LUMIDEX_OPENSSL_EXE, "x509", "-req", "-in", csr, "-CA",
               (dir / (ca + ".crt")).string(), "-CAkey", (dir / (ca + ".key")).string(),
               "-CAcreateserial", "-out", (dir / (name + ".crt")).string(), "-days",
               std::to_string(days), "-extfile", (dir / (name + ".ext")).string()});
}

Broker::Broker(const std::filesystem::path& dir, const Options& options)
    : dir_(dir), options_(options), port_(options.port != 0 ? options.port : FreePort()) {
    std::string config = "listener " + std::to_string(port_) + " 127.0.0.1\n";
    // Started as root, mosquitto would change to its own user, which cannot
    // read the test's files.
    if (const passwd* user = ::getpwuid(::getuid())) {
        config += std::string("user ") + user->pw_name + "\n";
    }
    config += "persistence false\nlog_dest file " + (dir / "mosquitto.log").string() + "\n";
    if (options.tls) {
        ca_file_ = dir / "ca.crt";
        MakeCa(dir, "ca");
        MakeServerCertificate(dir, "ca", "server", "IP:127.0.0.1", 1);
        config += "cafile " + ca_file_.string() + "\ncertfile " + (dir / "server.crt").string() +
                  "\nkeyfile " + (dir / "server.key").string() + "\n";
    }
    if (!options.user.empty()) {
        const std::string passwords = (dir / "passwords").string();
        RunOrFail(
            {LUMIDEX_MOSQUITTO_PASSWD_EXE, "-b", "-c", passwords, options.user, options.password});
        config += "allow_anonymous false\npassword_file " + passwords + "\n";
    } else {
        config += "allow_anonymous true\n";
    }
    WriteFileOrFail(dir / "mosquitto.conf", config + options.extra);
    if (options.start) {
        Start();
    }
}

void Broker::Start() {
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{LUMIDEX_MOSQUITTO_EXE, "-c", (dir_ / "mosquitto.conf").string()});
    const auto deadline = Clock::now() + 5s;
    while (!Accepts(port_) && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(Accepts(port_)) << "mosquitto did not start on port " << port_
                                << "; its log: " << ReadFileOrFail(dir_ / "mosquitto.log");
}

void Broker::Stop() {
    if (process_) {
        process_->Stop(SIGTERM, 5s);
        process_.reset();
    }
}

Broker::~Broker() {
    Stop();
}

std::vector<std::string> Broker::ClientArgs() const {
    std::vector<std::string> args{"-h", "127.0.0.1", "-p", std::to_string(port_)};
    if (options_.tls) {
        args.insert(args.end(), {"--cafile", ca_file_.string()});
    }
    if (!options_.user.empty()) {
        args.insert(args.end(), {"-u", options_.user, "-P", options_.password});
    }
    return args;
}

Watch::Watch(const Broker& broker, const std::vector<std::string>& patterns) {
    static int probes = 0;
    const std::string probe =
        "probe/" + std::to_string(::getpid()) + "/" + std::to_string(++probes);
    std::vector<std::string> argv{LUMIDEX_MOSQUITTO_SUB_EXE, "-v"};
    const auto client = broker.ClientArgs();
    argv.insert(argv.end(), client.begin(), client.end());
    for (const std::string& pattern : patterns) {
        argv.insert(argv.end(), {"-t", pattern});
    }
    argv.insert(argv.end(), {"-t", probe});
    process_ = std::make_unique<ChildProcess>(argv);
    // Subscribed once a message of its own comes back; the retained
    // messages that came first are kept.
    probe_ = probe + " ";
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
        Publish(broker, probe, "ready");
        while (auto line = process_->ReadLine(200ms)) {
            if (line->starts_with(probe_)) {
                return;
            }
            log_.push_back(*line);
            taken_.push_back(false);
        }
    }
    ADD_FAILURE() << "mosquitto_sub did not subscribe within 5 s";
}

std::optional<std::string> Watch::NextLine(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        auto line = left.count() > 0 ? process_->ReadLine(left) : std::nullopt;
        if (!line || !line->starts_with(probe_)) {
            return line;
        }
    }
}

std::optional<std::string> Watch::WaitFor(const std::string& topic,
                                          const std::function<bool(const std::string&)>& accept,
                                          const std::string& looked_for,
                                          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::size_t checked = 0;
    for (;;) {
        for (; checked < log_.size(); ++checked) {
            const std::string& line = log_[checked];
            if (!taken_[checked] && line.starts_with(topic + " ") &&
                accept(line.substr(topic.size() + 1))) {
                taken_[checked] = true;
                before_.assign(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(checked));
                return line.substr(topic.size() + 1);
            }
        }
        const auto line = NextLine(deadline);
        if (!line) {
            break;
        }
        log_.push_back(*line);
        taken_.push_back(false);
    }
    std::string what;
    for (std::size_t i = 0; i < log_.size(); ++i) {
        what += taken_[i] ? "" : "\n  " + log_[i];
    }
    ADD_FAILURE() << "no " << looked_for << " on " << topic << " within " << timeout.count()
                  << " ms; what arrived and was not yet looked at:"
                  << (what.empty() ? " nothing" : what);
    return std::nullopt;
}

std::optional<std::string> Watch::WaitFor(const std::string& topic, const std::string& payload,
                                          std::chrono::milliseconds timeout) {
    return WaitFor(
        topic, [&](const std::string& got) { return got == payload; }, "'" + payload + "'",
        timeout);
}

int Watch::Count(const std::string& topic, std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    while (const auto line = NextLine(deadline)) {
        log_.push_back(*line);
        taken_.push_back(false);
    }
    int count = 0;
    for (std::size_t i = 0; i < log_.size(); ++i) {
        if (!taken_[i] && log_[i].starts_with(topic + " ")) {
            taken_[i] = true;
            ++count;
        }
    }
    return count;
}

std::optional<nlohmann::json> Watch::WaitForStatus(const std::string& topic,
                                                   const std::string& result,
                                                   std::chrono::milliseconds timeout) {
    const auto payload = WaitFor(
        topic,
        [&](const std::string& got) {
            const auto status = nlohmann::json::parse(got, nullptr, false);
            return status.is_object() && status.value("result", "") == result;
        },
        "status with result '" + result + "'", timeout);
    if (!payload) {
        return std::nullopt;
    }
    return nlohmann::json::parse(*payload);
}

void Publish(const Broker& broker, const std::string& topic, const std::string& payload) {
    std::vector<std::string> argv{LUMIDEX_MOSQUITTO_PUB_EXE};
    const auto client = broker.ClientArgs();
    argv.insert(argv.end(), client.begin(), client.end());
    argv.insert(argv.end(), {"-q", "1", "-t", topic});
    if (payload.empty()) {
        argv.push_back("-n");
    } else {
        argv.insert(argv.end(), {"-m", payload});
    }
    const RunOutput run = RunProgram(argv);
    EXPECT_EQ(run.status, 0) << "mosquitto_pub to " << topic << " failed: " << run.err;
}

std::optional<std::string> Retained(const Broker& broker, const std::string& topic) {
    std::vector<std::string> argv{LUMIDEX_MOSQUITTO_SUB_EXE};
    const auto client = broker.ClientArgs();
    argv.insert(argv.end(), client.begin(), client.end());
    argv.insert(argv.end(), {"-C", "1", "-W", "2", "--retained-only", "-t", topic});
    const RunOutput run = RunProgram(argv);
    if (run.status != 0 || run.out.empty()) {
        return std::nullopt;
    }
    return run.out.substr(0, run.out.find('\n'));
}

Board::Board(const std::string& address, const std::vector<std::string>& extra) {
    std::vector<std::string> argv{LUMIDEX_SIM_EXE, "--json", "--udp", address + ":10006"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<ChildProcess>(argv);
    if (std::find(extra.begin(), extra.end(), "--pty") != extra.end()) {
        const std::string line = process_->ReadLine(5s).value_or("");
        EXPECT_TRUE(line.starts_with("serial: ")) << line;
        serial_ = line.substr(std::min<std::size_t>(line.size(), 8));
    }
    EXPECT_EQ(process_->ReadLine(5s), "udp: " + address + ":10006");
}

std::optional<nlohmann::json> Board::NextFrame(std::chrono::milliseconds timeout) {
    const auto line = process_->ReadLine(timeout);
    if (!line) {
        return std::nullopt;
    }
    return nlohmann::json::parse(*line);
}

void Board::Stop() {
    EXPECT_EQ(process_->Stop(SIGTERM, 5s), 0);
}

std::string LineText(const nlohmann::json& frame, int line) {
    for (const nlohmann::json& l : frame.value("lines", nlohmann::json::array())) {
        if (l.value("line", 0) == line) {
            return l.value("text", "");
        }
    }
    return "(line " + std::to_string(line) + " not in the frame)";
}

std::string BoardSettings(const std::string& address) {
    return "[Set]\r\nwsv1=4\r\nwsv6=2\r\nwsv2=3\r\nwsv7=No\r\nLEDIP=" +
           std::to_string(StoredAddressValue(*ParseDottedAddress(address))) +
           "\r\n[Text]\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n";
}

} // namespace lumidex::test
