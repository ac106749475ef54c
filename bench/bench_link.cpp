// Link speed: one exchange over UDP against a loopback responder, beside a
// bare UDP round trip of the same bytes on one reused socket, and how many
// frames a second lumidex-sim answers.
#include "link/exchange.h"
#include "link/udp_link.h"
#include "protocol/frame.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace lumidex;

constexpr const char* kResponder = "127.0.0.5";
constexpr const char* kSimulator = "127.0.0.6";

sockaddr_in Loopback(const char* address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// Answers every datagram with 23 bytes whose byte 3 is 1, until stopped.
class Responder {
public:
    Responder() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in local = Loopback(kResponder, kUdpPort);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        thread_ = std::thread([this] {
            std::uint8_t buffer[512];
            ReplyBlock reply{};
            reply[3] = 1;
            for (;;) {
                sockaddr_in from{};
                socklen_t size = sizeof from;
                const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                               reinterpret_cast<sockaddr*>(&from), &size);
                if (got <= 0 || buffer[0] == 'q') {
                    return;
                }
                ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         size);
            }
        });
    }
    ~Responder() {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = Loopback(kResponder, kUdpPort);
        ::sendto(fd, "q", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        ::close(fd);
        thread_.join();
        ::close(fd_);
    }

private:
    int fd_ = -1;
    std::thread thread_;
};

const Frame& ContentLikeFrame() {
    static const Frame frame = [] {
        const std::uint8_t payload[] = {1,    2,    0xFA, 0,    0x14, 0x10, 0x01, 0x13,
                                        0x05, 0xFB, 1,    0x13, 0x10, 0x10, 0x07};
        return BuildEnvelope(1, kContentNow, payload);
    }();
    return frame;
}

// As the command path sends over one link: the link made for the target,
// then one exchange, which opens a new socket and closes it again.
void BM_ExchangeUdp(benchmark::State& state) {
    Responder responder;
    const LinkTarget target = UdpTarget{kResponder};
    for (auto _ : state) {
        const auto link = MakeLink(target);
        if (!Exchange(*link, ContentLikeFrame(), TimingOf(target)).accepted()) {
            state.SkipWithError("not accepted");
            break;
        }
    }
}
BENCHMARK(BM_ExchangeUdp)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BareUdpRoundTrip(benchmark::State& state) {
    Responder responder;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(kResponder, kUdpPort);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::uint8_t reply[64];
    for (auto _ : state) {
        ::send(fd, ContentLikeFrame().data(), ContentLikeFrame().size(), 0);
        benchmark::DoNotOptimize(::recv(fd, reply, sizeof reply, 0));
    }
    ::close(fd);
}
BENCHMARK(BM_BareUdpRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Frames a second that lumidex-sim takes, decodes, draws (to /dev/null) and
// answers, with a window of frames in flight from one client, as a busy
// network would bring them.
void BM_SimulatorFramesPerSecond(benchmark::State& state) {
    const std::string address = std::string(kSimulator) + ":" + std::to_string(kUdpPort);
    const char* argv[] = {LUMIDEX_SIM_EXE, "--udp", address.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(kSimulator, kUdpPort);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::uint8_t reply[64];
    std::int64_t answered = 0;
    const auto window = state.range(0);
    auto receive = [&] {
        if (::recv(fd, reply, sizeof reply, 0) == static_cast<ssize_t>(kReplySize) &&
            reply[3] == 1) {
            ++answered;
        }
    };
    std::int64_t in_flight = 0;
    for (auto _ : state) {
        ::send(fd, ContentLikeFrame().data(), ContentLikeFrame().size(), 0);
        if (++in_flight > window) {
            receive();
            --in_flight;
        }
    }
    for (; in_flight > 0; --in_flight) {
        receive();
    }
    ::close(fd);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(state.iterations() - answered);
}
BENCHMARK(BM_SimulatorFramesPerSecond)->Arg(1)->Arg(16)->UseRealTime()->MinTime(2.0);

} // namespace
