// Changes on time with 100 boards: a schedule for a group of every board,
// due a moment ahead, run by the board service on the system's clock and
// zone, its values stored with durable writes in a folder of the
// benchmark's own. Reports, over several rounds, how long after the due
// moment each board's exchange began (its link opened): the first, the
// median and the last board, and the spread between them. The boards are
// controllers that answer at once, so what shows is the service's own work:
// waking, checking the change against every board, storing it and handing
// it to the workers.
//
//   bench_schedules [--boards N] [--rounds R] [--dir PARENT]
#include "boards/service.h"
#include "link/address.h"
#include "link/link.h"
#include "protocol/frame.h"
#include "settings/file_io.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Wall = std::chrono::system_clock;

// A controller that takes every frame: it answers with an accepting reply.
class AcceptingLink final : public lumidex::Link {
public:
    AcceptingLink(std::string name, std::mutex& mutex,
                  std::map<std::string, std::vector<Wall::time_point>>& opened)
        : name_(std::move(name)), mutex_(mutex), opened_(opened) {}
    bool Open() override {
        std::lock_guard lock(mutex_);
        opened_[name_].push_back(Wall::now());
        return true;
    }
    bool Write(std::span<const std::uint8_t>) override { return true; }
    std::optional<std::size_t> Read(std::span<std::uint8_t> into, std::chrono::milliseconds) override {
        std::fill(into.begin(), into.end(), 0);
        const std::size_t size = std::min<std::size_t>(into.size(), lumidex::kReplySize);
        into[lumidex::kReplyStatusByte] = 1; // accepted
        return size;
    }
    void Close() override {}
    std::string error() const override { return {}; }

private:
    std::string name_;
    std::mutex& mutex_;
    std::map<std::string, std::vector<Wall::time_point>>& opened_;
};

double Ms(Wall::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    int boards = 100;
    int rounds = 5;
    std::filesystem::path parent = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--boards") == 0) {
            boards = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--dir") == 0) {
            parent = argv[i + 1];
        }
    }
    const std::filesystem::path dir = parent / ("bench_schedules." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    lumidex::BridgeConfig config;
    config.file = dir / "boards.ini";
    config.refresh = 0s;
    std::ofstream(config.file) << "[bridge]\n";
    for (int b = 1; b <= boards; ++b) {
        const std::string name = "b" + std::to_string(b);
        const std::string address = "127.0.1." + std::to_string(b);
        const auto stored = lumidex::StoredAddressValue(*lumidex::ParseDottedAddress(address));
        std::ofstream(dir / (name + ".ini"))
            << "[Set]\r\nwsv1=4\r\nwsv6=2\r\nLEDIP=" << stored << "\r\n[TextData]\r\nTD1=1.00\r\n";
        lumidex::BoardConfig board;
        board.name = name;
        board.settings = dir / (name + ".ini");
        board.groups = {"all"};
        config.boards.push_back(board);
    }
    std::mutex mutex;
    std::map<std::string, std::vector<Wall::time_point>> opened;
    lumidex::ServiceWorld world;
    world.make_link = [&](const lumidex::LinkTarget& target) -> std::unique_ptr<lumidex::Link> {
        return std::make_unique<AcceptingLink>(std::get<lumidex::UdpTarget>(target).address, mutex,
                                               opened);
    };
    world.timing = [](const lumidex::LinkTarget&) { return lumidex::ExchangeTiming{0ms, 100ms}; };
    lumidex::BoardService service(config, std::move(world));
    service.Start();
    std::this_thread::sleep_for(200ms);

    std::vector<double> firsts, medians, lasts, spreads;
    for (int round = 0; round < rounds; ++round) {
        {
            std::lock_guard lock(mutex);
            opened.clear();
        }
        // Due at the start of a whole second two to three seconds ahead.
        const auto due = std::chrono::ceil<std::chrono::seconds>(Wall::now()) + 2s;
        const auto local = lumidex::ToLocal(lumidex::SystemTimeZone(), due);
        const nlohmann::ordered_json body = {
            {"group", "all"},
            {"at", lumidex::LocalDateTimeText(local)},
            {"set", {{"lines", {{"1", std::to_string(round + 2) + ".5"}}}}}};
        const auto made = service.AddSchedule(body, lumidex::Role::Admin, "bench");
        if (std::holds_alternative<lumidex::BodyRefusal>(made)) {
            std::fprintf(stderr, "refused: %s\n", std::get<lumidex::BodyRefusal>(made).error.c_str());
            return 1;
        }
        std::this_thread::sleep_until(due + 3s);
        std::vector<double> after;
        {
            std::lock_guard lock(mutex);
            for (const auto& [board, times] : opened) {
                after.push_back(Ms(times.front() - due));
            }
        }
        if (static_cast<int>(after.size()) != boards) {
            std::fprintf(stderr, "round %d: %zu of %d boards were sent the change\n", round,
                         after.size(), boards);
            return 1;
        }
        std::sort(after.begin(), after.end());
        firsts.push_back(after.front());
        medians.push_back(after[after.size() / 2]);
        lasts.push_back(after.back());
        spreads.push_back(after.back() - after.front());
        std::printf("round %d: exchanges began %.1f .. %.1f ms after the due moment "
                    "(median %.1f, spread %.1f ms)\n",
                    round + 1, after.front(), after.back(), after[after.size() / 2],
                    after.back() - after.front());
    }
    service.Stop();
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("%d boards, median of %d rounds: first %.1f ms, median %.1f ms, last %.1f ms "
                "after the due moment; spread %.1f ms; worst last %.1f ms\n",
                boards, rounds, median(firsts), median(medians), median(lasts), median(spreads),
                *std::max_element(lasts.begin(), lasts.end()));
    std::filesystem::remove_all(dir);
    return 0;
}
