// lumidex-bridge under load: 100 boards, each a lumidex-sim on its own
// loopback address (127.0.1.1 .. 127.0.1.100), each given a new value once a
// second for 30 s through a mosquitto of the benchmark's own. Reports the
// updates delivered, the latency from the publish to the frame at the board
// (median and 99th percentile), the bridge's memory, and, in the same run,
// the updates a second that a loop of lumidex-send processes reaches, and,
// the broker restarted without its store, how long after it takes
// connections again every board's availability is published. A second
// burst is cut short by a kill -9 of the bridge: started again, every board
// must come to show what its Config.ini held at the kill. Then, from the
// same bridge's HTTP door: the same updates as POSTs (the latency from the
// request to the frame at the board), event-stream clients told of a
// change, and the bridge's memory with them open.
//
//   bench_bridge [--boards N] [--seconds S] [--dir PARENT]
//
// The boards' Config.ini files go to a new folder in PARENT (default: the
// system's temporary folder); every value is stored there with a durable
// write before it is sent, so the disk under PARENT shows in the latency
// (a memory file system such as /dev/shm leaves it out).
#include "link/address.h"
#include "settings/profile.h"

#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <atomic>
#include <netinet/tcp.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Child {
    pid_t pid = -1;
    int out = -1; // its standard output, or -1
    std::string pending;
};

Child Spawn(const std::vector<std::string>& argv, bool read_output) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (read_output && ::pipe(fds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    Child child;
    if (posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        child.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (fds[1] >= 0) {
        ::close(fds[1]);
        child.out = fds[0];
    }
    return child;
}

void Stop(Child& child) {
    if (child.pid > 0) {
        ::kill(child.pid, SIGTERM);
        ::waitpid(child.pid, nullptr, 0);
    }
    if (child.out >= 0) {
        ::close(child.out);
    }
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

void WriteFile(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string BoardAddress(int board) {
    return "127.0.1." + std::to_string(board + 1);
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

// VmRSS and VmHWM of a process, in kB.
std::pair<long, long> Memory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    long rss = 0;
    long peak = 0;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            rss = std::stol(line.substr(6));
        } else if (line.starts_with("VmHWM:")) {
            peak = std::stol(line.substr(6));
        }
    }
    return {rss, peak};
}

// A client connection to the bridge's HTTP door on loopback; -1 when it
// cannot connect.
int ConnectHttp(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Sends one request on a kept-alive connection and reads its answer whole;
// the answer's status, or 0 when the connection failed.
int HttpExchange(int fd, const std::string& request) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return 0;
    }
    std::string answer;
    char buffer[16384];
    while (true) {
        const std::size_t head = answer.find("\r\n\r\n");
        if (head != std::string::npos) {
            const std::size_t length_at = answer.find("Content-Length: ");
            const std::size_t length =
                length_at < head ? std::stoul(answer.substr(length_at + 16)) : 0;
            if (answer.size() >= head + 4 + length) {
                return std::atoi(answer.c_str() + 9);
            }
        }
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return 0;
        }
        answer.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string HttpPost(int port, const std::string& path, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// Whether the port takes a connection (the broker is up again).
bool Accepts(int port) {
    const int fd = ConnectHttp(port);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

// The boards seen online on their availability topics, and when the last
// one was.
struct AvailabilityWatch {
    std::mutex mutex;
    std::set<std::string> online;
    Clock::time_point last{};
};

// What the bench's own client hears: the publishes the broker has
// acknowledged, and each board's line 1 as the bridge publishes it once the
// board accepted a frame with it.
struct ClientWatch {
    std::atomic<long> acknowledged{0};
    std::mutex mutex;
    std::map<int, int> accepted;
};

// Started as root, mosquitto would change to its own user.
std::string RunAsUser() {
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? std::string("user ") + user->pw_name + "\n" : std::string();
}

} // namespace

int main(int argc, char** argv) {
    int boards = 100;
    int seconds = 30;
    std::filesystem::path parent = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--boards") {
            boards = std::clamp(std::atoi(argv[i + 1]), 1, 250);
        } else if (arg == "--dir") {
            parent = argv[i + 1];
        } else if (arg == "--seconds") {
            seconds = std::clamp(std::atoi(argv[i + 1]), 1, 600);
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    const std::filesystem::path dir =
        parent / ("lumidex-bench-bridge-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    const int port = FreePort();
    WriteFile(dir / "mosquitto.conf",
              "listener " + std::to_string(port) +
                  " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                  "log_dest none\nmax_queued_messages 0\nset_tcp_nodelay true\n" +
                  RunAsUser());
    Child broker = Spawn({LUMIDEX_MOSQUITTO_EXE, "-c", (dir / "mosquitto.conf").string()}, false);

    const int http_port = FreePort();
    std::string boards_file = "[bridge]\nbroker=127.0.0.1:" + std::to_string(port) +
                              "\n[http]\nlisten=127.0.0.1:" + std::to_string(http_port) + "\n";
    std::vector<Child> sims;
    std::map<int, int> board_of_fd;
    for (int b = 0; b < boards; ++b) {
        const std::string name = "b" + std::to_string(b);
        // Line 1 with 8 digits and a free point carries the update's number.
        WriteFile(dir / (name + ".ini"),
                  "[Set]\r\nwsv1=8\r\nLEDIP=" +
                      std::to_string(lumidex::StoredAddressValue(
                          *lumidex::ParseDottedAddress(BoardAddress(b)))) +
                      "\r\n[Text]\r\nText2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n");
        boards_file += "[" + name + "]\nsettings=" + name + ".ini\n";
        sims.push_back(
            Spawn({LUMIDEX_SIM_EXE, "--json", "--udp", BoardAddress(b) + ":10006"}, true));
        board_of_fd[sims.back().out] = b;
    }
    WriteFile(dir / "boards.ini", boards_file);
    std::this_thread::sleep_for(500ms);
    Child bridge = Spawn({LUMIDEX_BRIDGE_EXE, "--boards", (dir / "boards.ini").string()}, false);

    mosquitto_lib_init();
    ClientWatch heard;
    std::atomic<long>& acknowledged = heard.acknowledged;
    mosquitto* client = mosquitto_new("lumidex-bench", true, &heard);
    mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int) {
        ++static_cast<ClientWatch*>(self)->acknowledged;
    });
    mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* watch = static_cast<ClientWatch*>(self);
        std::string text(static_cast<const char*>(m->payload),
                         static_cast<std::size_t>(m->payloadlen));
        text.erase(0, text.find_first_not_of(' '));
        std::lock_guard lock(watch->mutex);
        watch->accepted[std::atoi(m->topic + std::strlen("lumidex/b"))] = std::atoi(text.c_str());
    });
    long publishes = 0; // publish calls that went out
    const auto publish_line = [&](int b, int value) {
        const std::string topic = "lumidex/b" + std::to_string(b) + "/line/1/set";
        const std::string text = std::to_string(value);
        if (mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(text.size()),
                              text.data(), 1, false) == MOSQ_ERR_SUCCESS) {
            ++publishes;
        }
    };
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect(client, "127.0.0.1", port, 30);
    mosquitto_subscribe(client, nullptr, "lumidex/+/line/1", 1);
    mosquitto_loop_start(client);
    std::this_thread::sleep_for(1s); // the bridge connects and subscribes

    // publish time of (board, update number)
    // When update k of board b went out (steady clock ticks; 0: not yet),
    // written by whichever thread sends it.
    std::vector<std::atomic<long long>> published(static_cast<std::size_t>(boards) *
                                                  static_cast<std::size_t>(seconds + 1));
    const auto sent_at = [&](int b, int k) -> std::atomic<long long>& {
        return published[static_cast<std::size_t>(b * (seconds + 1) + k)];
    };
    std::vector<double> latencies_ms;
    std::vector<std::vector<bool>> delivered(
        static_cast<std::size_t>(boards), std::vector<bool>(static_cast<std::size_t>(seconds) + 1));
    std::vector<int> last_value(static_cast<std::size_t>(boards), 0);
    long frames = 0;
    int value_base = 0; // update k carries value_base + k
    std::vector<pollfd> fds;
    for (const Child& sim : sims) {
        fds.push_back({sim.out, POLLIN, 0});
    }
    // Each sim prints its address first.
    auto drain = [&](Clock::time_point until) {
        while (Clock::now() < until) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(left.count(), 0))) <=
                0) {
                continue;
            }
            const Clock::time_point now = Clock::now();
            for (pollfd& p : fds) {
                if ((p.revents & POLLIN) == 0) {
                    continue;
                }
                const int b = board_of_fd[p.fd];
                Child& sim = sims[static_cast<std::size_t>(b)];
                char buffer[8192];
                const ssize_t got = ::read(p.fd, buffer, sizeof buffer);
                if (got <= 0) {
                    p.fd = -1;
                    continue;
                }
                sim.pending.append(buffer, static_cast<std::size_t>(got));
                std::size_t newline = 0;
                while ((newline = sim.pending.find('\n')) != std::string::npos) {
                    const std::string line = sim.pending.substr(0, newline);
                    sim.pending.erase(0, newline + 1);
                    const auto frame = nlohmann::json::parse(line, nullptr, false);
                    if (!frame.is_object() || !frame.contains("lines")) {
                        continue;
                    }
                    ++frames;
                    for (const auto& l : frame["lines"]) {
                        std::string text = l.value("text", "");
                        text.erase(0, text.find_first_not_of(' '));
                        const int value = text.empty() ? 0 : std::atoi(text.c_str());
                        last_value[static_cast<std::size_t>(b)] = value;
                        const int k = value - value_base;
                        if (k >= 1 && k <= seconds &&
                            sent_at(b, k) != 0 &&
                            !delivered[static_cast<std::size_t>(b)][static_cast<std::size_t>(k)]) {
                            delivered[static_cast<std::size_t>(b)][static_cast<std::size_t>(k)] =
                                true;
                            latencies_ms.push_back(std::chrono::duration<double, std::milli>(
                                                       now - Clock::time_point(Clock::duration(sent_at(b, k).load())))
                                                       .count());
                        }
                    }
                }
            }
        }
    };
    drain(Clock::now() + 200ms);

    // Every board once a second, the boards spread evenly over the second.
    const Clock::time_point start = Clock::now();
    const auto step = std::chrono::microseconds(1'000'000 / boards);
    for (int k = 1; k <= seconds; ++k) {
        for (int b = 0; b < boards; ++b) {
            const Clock::time_point at = start + std::chrono::seconds(k - 1) + step * b;
            drain(at);
            sent_at(b, k) = Clock::now().time_since_epoch().count();
            publish_line(b, k);
        }
    }
    drain(Clock::now() + 3s);
    const auto [rss, peak] = Memory(bridge.pid);

    // As fast as the publisher goes: rounds of one update per board, back
    // to back. Updates that reach a board while its exchange is in flight
    // are merged, so the board shows the latest; the rate is the updates
    // published over the time until every board shows its last one.
    constexpr int kBurstRounds = 50;
    constexpr int kBurstBase = 1000;
    const long frames_before = frames;
    const Clock::time_point burst_start = Clock::now();
    for (int r = 1; r <= kBurstRounds; ++r) {
        for (int b = 0; b < boards; ++b) {
            publish_line(b, kBurstBase + r);
        }
        drain(Clock::now());
    }
    // The simulator reports at most 50 frames a second and holds back the
    // rest, the last one included when no frame follows; what a board
    // accepted last the bridge's state topic tells as well.
    const auto shows_last = [&](int b) {
        constexpr int kLast = kBurstBase + kBurstRounds;
        std::lock_guard lock(heard.mutex);
        return last_value[static_cast<std::size_t>(b)] == kLast || heard.accepted[b] == kLast;
    };
    const auto all_shown = [&] {
        for (int b = 0; b < boards; ++b) {
            if (!shows_last(b)) {
                return false;
            }
        }
        return true;
    };
    while (!all_shown() && Clock::now() - burst_start < 30s) {
        drain(Clock::now() + 5ms);
    }
    const double burst_seconds = std::chrono::duration<double>(Clock::now() - burst_start).count();
    const bool burst_shown = all_shown();
    std::string burst_misses; // the first boards that do not show the last value
    for (int b = 0, told = 0; b < boards && told < 5; ++b) {
        if (!shows_last(b)) {
            burst_misses += "  b" + std::to_string(b) + " shows " +
                            std::to_string(last_value[static_cast<std::size_t>(b)]) + "\n";
            ++told;
        }
    }
    const double bridge_rate = boards * kBurstRounds / burst_seconds;
    const double frame_rate = static_cast<double>(frames - frames_before) / burst_seconds;

    // The same kind of update through one lumidex-send process each.
    const std::filesystem::path config = dir / "b0.ini";
    const Clock::time_point loop_start = Clock::now();
    int sent = 0;
    while (Clock::now() - loop_start < 5s) {
        Child send = Spawn({LUMIDEX_SEND_EXE, "--config", config.string(), "--line",
                            "1=" + std::to_string(500 + sent % 400), "content"},
                           false);
        ::waitpid(send.pid, nullptr, 0);
        ++sent;
        drain(Clock::now());
    }
    const double loop_rate =
        sent / std::chrono::duration<double>(Clock::now() - loop_start).count();

    // A second burst, the bridge killed with SIGKILL half-way through it,
    // once half the boards show one of its values. A tenth of the boards
    // are off meanwhile and come back, blank, after the kill: their files
    // hold values they never showed.
    // What each board's Config.ini holds at the kill was stored, so it must
    // reach the board after the restart, though nobody publishes again. The
    // restarted bridge takes a new client id: the broker's copies of
    // commands still in flight at the kill would otherwise arrive again and
    // move the boards past their files.
    constexpr int kKillBase = 4000;
    const Clock::time_point kill_start = Clock::now();
    const int off = std::max(1, boards / 10);
    for (int b = 0; b < off; ++b) {
        Stop(sims[static_cast<std::size_t>(b)]);
        fds[static_cast<std::size_t>(b)].fd = -1;
    }
    const auto shows_kill_burst = [&] {
        return 2 * std::count_if(last_value.begin(), last_value.end(),
                                 [&](int v) { return v > kKillBase; }) >=
               boards;
    };
    for (int r = 1; r <= kBurstRounds / 2; ++r) {
        for (int b = 0; b < boards; ++b) {
            publish_line(b, kKillBase + r);
        }
        drain(Clock::now());
    }
    while (!shows_kill_burst() && Clock::now() - kill_start < 30s) {
        drain(Clock::now() + 1ms);
    }
    ::kill(bridge.pid, SIGKILL);
    ::waitpid(bridge.pid, nullptr, 0);
    for (int b = 0; b < off; ++b) {
        Child& sim = sims[static_cast<std::size_t>(b)];
        sim = Spawn({LUMIDEX_SIM_EXE, "--json", "--udp", BoardAddress(b) + ":10006"}, true);
        fds[static_cast<std::size_t>(b)].fd = sim.out;
        board_of_fd[sim.out] = b;
        last_value[static_cast<std::size_t>(b)] = 0;
    }
    // Frames already on their way, and a new second at every simulator, so
    // that none holds back its report of the next frame; and the rest of
    // the burst, which the broker keeps for the killed bridge's session
    // once it has it all.
    drain(Clock::now() + 1100ms);
    while (acknowledged < publishes && Clock::now() - kill_start < 60s) {
        drain(Clock::now() + 5ms);
    }
    std::vector<int> stored_at_kill(static_cast<std::size_t>(boards), 0);
    int behind_at_kill = 0;
    int burst_stored = 0;
    for (int b = 0; b < boards; ++b) {
        std::string text = lumidex::ReadSetting(dir / ("b" + std::to_string(b) + ".ini"),
                                                "TextData", "TD1", "", 64);
        text.erase(0, text.find_first_not_of(' '));
        const int value = std::atoi(text.c_str());
        stored_at_kill[static_cast<std::size_t>(b)] = value;
        behind_at_kill += value != last_value[static_cast<std::size_t>(b)] ? 1 : 0;
        burst_stored += value > kKillBase ? 1 : 0;
    }
    bridge = Spawn({LUMIDEX_BRIDGE_EXE, "--boards", (dir / "boards.ini").string(), "--client-id",
                    "lumidex-bench-restarted"},
                   false);
    const Clock::time_point restarted = Clock::now();
    const auto shows_stored = [&] { return last_value == stored_at_kill; };
    while (!shows_stored() && Clock::now() - restarted < 30s) {
        drain(Clock::now() + 5ms);
    }
    const bool kill_kept = shows_stored();
    const double healed_seconds = std::chrono::duration<double>(Clock::now() - restarted).count();
    drain(Clock::now() + 1s); // the bridge connects and subscribes again
    const bool kill_still_kept = shows_stored();
    std::string kill_misses; // the first boards that do not show their file's value
    for (int b = 0, told = 0; b < boards && told < 5; ++b) {
        const auto at = static_cast<std::size_t>(b);
        if (last_value[at] != stored_at_kill[at]) {
            kill_misses += "  b" + std::to_string(b) + ": its file held " +
                           std::to_string(stored_at_kill[at]) + " at the kill, it shows " +
                           std::to_string(last_value[at]) + "\n";
            ++told;
        }
    }

    long count = 0;
    for (const auto& board : delivered) {
        count += std::count(board.begin() + 1, board.end(), true);
    }
    const long total = static_cast<long>(boards) * seconds;
    const std::vector<double> mqtt_latencies_ms = latencies_ms;

    // The same updates as POSTs to the HTTP door, from a client thread of
    // their own while this one reads the boards: the latency runs from the
    // request to the frame at the board. Update k carries 2000 + k.
    constexpr int kHttpBase = 2000;
    latencies_ms.clear();
    value_base = kHttpBase;
    for (auto& board : delivered) {
        std::fill(board.begin(), board.end(), false);
    }
    for (auto& at : published) {
        at = 0;
    }

    std::atomic<int> http_failures{0};
    std::atomic<bool> posted_all{false};
    const Clock::time_point http_start = Clock::now() + 200ms;
    std::thread poster([&] {
        const int fd = ConnectHttp(http_port);
        for (int k = 1; k <= seconds; ++k) {
            for (int b = 0; b < boards; ++b) {
                std::this_thread::sleep_until(http_start + std::chrono::seconds(k - 1) + step * b);
                sent_at(b, k) = Clock::now().time_since_epoch().count();
                const int status = HttpExchange(
                    fd, HttpPost(http_port, "/api/boards/b" + std::to_string(b),
                                 "{\"lines\":{\"1\":\"" + std::to_string(kHttpBase + k) + "\"}}"));
                if (status != 200) {
                    ++http_failures;
                }
            }
        }
        ::close(fd);
        posted_all = true;
    });
    // Every request waits for its exchange, so a loaded machine makes the
    // poster late: the boards are read until it is done, and a while more.
    while (!posted_all) {
        drain(Clock::now() + 50ms);
    }
    drain(Clock::now() + 3s);
    poster.join();
    long http_count = 0;
    for (const auto& board : delivered) {
        http_count += std::count(board.begin() + 1, board.end(), true);
    }
    const std::vector<double> http_latencies_ms = latencies_ms;

    // Event streams: as many clients as there are boards ask for one; the
    // door serves 32 and refuses the rest. Then a change to one board, 20
    // times: how long until every stream served has its state.
    std::vector<int> streams;
    int refused_streams = 0;
    const std::string stream_request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" +
                                       std::to_string(http_port) + "\r\n\r\n";
    for (int c = 0; c < boards; ++c) {
        const int fd = ConnectHttp(http_port);
        ::send(fd, stream_request.data(), stream_request.size(), MSG_NOSIGNAL);
        char head[512] = {};
        const ssize_t got = ::recv(fd, head, sizeof head - 1, 0);
        if (got > 12 && std::string(head, 12) == "HTTP/1.1 200") {
            streams.push_back(fd);
        } else {
            ++refused_streams;
            ::close(fd);
        }
    }
    const auto [stream_rss, stream_peak] = Memory(bridge.pid);
    std::vector<double> told_ms;
    const int control = ConnectHttp(http_port);
    for (int round = 0; round < 20; ++round) {
        const std::string value = std::to_string(3000 + round);
        const Clock::time_point changed_at = Clock::now();
        HttpExchange(control, HttpPost(http_port, "/api/boards/b0", "{\"lines\":{\"1\":\"" + value + "\"}}"));
        // Told: a state event whose line 1 has the value.
        std::vector<std::string> seen(streams.size());
        std::vector<bool> told(streams.size(), false);
        std::size_t left = streams.size();
        Clock::time_point last = changed_at;
        while (left > 0 && Clock::now() - changed_at < 2s) {
            std::vector<pollfd> watch;
            for (const int fd : streams) {
                watch.push_back({fd, POLLIN, 0});
            }
            if (::poll(watch.data(), watch.size(), 100) <= 0) {
                continue;
            }
            for (std::size_t i = 0; i < watch.size(); ++i) {
                if ((watch[i].revents & POLLIN) == 0) {
                    continue;
                }
                char buffer[16384];
                const ssize_t got = ::recv(watch[i].fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    continue;
                }
                seen[i].append(buffer, static_cast<std::size_t>(got));
                if (!told[i] && seen[i].find("\"text\":\"" + value + "\"") != std::string::npos) {
                    told[i] = true;
                    --left;
                    last = Clock::now();
                }
            }
        }
        told_ms.push_back(left == 0 ? std::chrono::duration<double, std::milli>(last - changed_at).count()
                                    : 2000.0);
        drain(Clock::now() + 50ms);
    }
    ::close(control);
    for (const int fd : streams) {
        ::close(fd);
    }
    std::printf("boards %d, %d s, one update per board per second, settings in %s\n", boards,
                seconds, parent.c_str());
    std::printf("updates delivered: %ld of %ld (%ld lost)\n", count, total, total - count);
    std::printf("publish-to-frame latency: median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
                Percentile(mqtt_latencies_ms, 0.5), Percentile(mqtt_latencies_ms, 0.99),
                Percentile(mqtt_latencies_ms, 1.0));
    std::printf("bridge memory: %ld kB resident, %ld kB at most\n", rss, peak);
    std::printf("burst of %d updates: every board showed its last after %.2f s: %.0f updates/s "
                "(%.0f frames/s at the boards)%s\n",
                boards * kBurstRounds, burst_seconds, bridge_rate, frame_rate,
                burst_shown ? "" : ", NOT ALL SHOWN");
    std::printf("%s", burst_misses.c_str());
    std::printf("lumidex-send loop: %.1f updates/s; the bridge %.1f x that\n", loop_rate,
                bridge_rate / loop_rate);
    std::printf("kill -9 half-way through a second burst: %d boards' files held a value of it, "
                "%d a value their board did not show yet; restarted, every board showed what its "
                "file held after %.2f s%s\n",
                burst_stored, behind_at_kill, healed_seconds,
                kill_kept && kill_still_kept ? "" : ", NOT EVERY BOARD");
    std::printf("%s", kill_misses.c_str());
    const double mqtt_p99 = Percentile(mqtt_latencies_ms, 0.99);
    const double http_p99 = Percentile(http_latencies_ms, 0.99);
    std::printf("HTTP: updates delivered: %ld of %ld (%d requests not answered 200)\n", http_count,
                total, http_failures.load());
    std::printf("HTTP: request-to-frame latency: median %.2f ms, 99th percentile %.2f ms, max %.2f ms "
                "(%.2f x the MQTT path's 99th percentile)\n",
                Percentile(http_latencies_ms, 0.5), http_p99, Percentile(http_latencies_ms, 1.0),
                mqtt_p99 > 0 ? http_p99 / mqtt_p99 : 0.0);
    std::printf("HTTP: %zu event streams served, %d refused; every stream told of a change within: "
                "median %.2f ms, max %.2f ms (20 changes)\n",
                streams.size(), refused_streams, Percentile(told_ms, 0.5), Percentile(told_ms, 1.0));
    std::printf("HTTP: bridge memory with the streams open: %ld kB resident, %ld kB at most\n",
                stream_rss, stream_peak);

    mosquitto_loop_stop(client, true);
    mosquitto_destroy(client);

    // The broker restarts without its store: from the moment it takes
    // connections again to every board's availability published again.
    Stop(broker);
    broker = Spawn({LUMIDEX_MOSQUITTO_EXE, "-c", (dir / "mosquitto.conf").string()}, false);
    while (!Accepts(port)) {
        std::this_thread::sleep_for(1ms);
    }
    const Clock::time_point broker_up = Clock::now();
    AvailabilityWatch watch;
    mosquitto* watcher = mosquitto_new("lumidex-bench-watch", true, &watch);
    mosquitto_message_callback_set(watcher, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* w = static_cast<AvailabilityWatch*>(self);
        const std::string payload(static_cast<const char*>(m->payload),
                                  static_cast<std::size_t>(m->payloadlen));
        std::lock_guard lock(w->mutex);
        const std::string topic = m->topic;
        if (payload == "online" && topic != "lumidex/bridge/availability" &&
            w->online.insert(topic).second) {
            w->last = Clock::now();
        }
    });
    mosquitto_connect(watcher, "127.0.0.1", port, 30);
    mosquitto_subscribe(watcher, nullptr, "lumidex/+/availability", 1);
    mosquitto_loop_start(watcher);
    const auto all_online = [&] {
        std::lock_guard lock(watch.mutex);
        return watch.online.size() == static_cast<std::size_t>(boards);
    };
    while (!all_online() && Clock::now() - broker_up < 60s) {
        std::this_thread::sleep_for(5ms);
    }
    const bool recovered = all_online();
    const double recovery_seconds =
        std::chrono::duration<double>(watch.last - broker_up).count();
    mosquitto_loop_stop(watcher, true);
    mosquitto_destroy(watcher);
    mosquitto_lib_cleanup();
    std::printf("broker restarted: every board's availability published %.2f s after it took "
                "connections again%s\n",
                recovery_seconds, recovered ? "" : " (NOT ALL within 60 s)");

    Stop(bridge);
    for (Child& sim : sims) {
        Stop(sim);
    }
    Stop(broker);
    std::filesystem::remove_all(dir);
    const bool kept = burst_shown && kill_kept && kill_still_kept;
    return count == total && recovered && http_count == total && kept ? 0 : 1;
}
