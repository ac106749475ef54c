// What the change record costs a change, with 100 boards: the time from
// Submit to its `done` (what an HTTP POST waits for), without a record and
// with one, its month file in a folder on the real disk (the record's sync
// is the point). The cards accept every frame after a set answer time
// (0 ms: the service's own work alone; 5 ms: a card on the LAN), and four
// callers submit, each to its own boards in turn, like four HTTP clients.
// Reports p50, p99 and the longest over the changes; the same for the
// Submit call alone (recording and storing the values, on the caller's
// thread) and for what `done` waited after the exchange ended (with a
// record: the rest of its sync); and with a record the bytes its file grew
// by per change (the change's line and its outcome's).
//
//   bench_record [--benchmark_...]
//   BENCH_BOARDS_DIR, BENCH_RECORD_DIR: the parent folders of the boards'
//   files and of the record (/var/tmp by default; the boards' files on
//   /dev/shm leave the disk to the record alone).
#include "boards/board_rules.h"
#include "boards/change_record.h"
#include "boards/service.h"
#include "link/address.h"
#include "link/link.h"
#include "protocol/frame.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
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
using Clock = std::chrono::steady_clock;

constexpr int kBoards = 100;
constexpr int kChanges = 2000;
constexpr int kCallers = 4;

// A controller that takes every frame.
class AcceptingLink final : public lumidex::Link {
public:
    bool Open() override { return true; }
    bool Write(std::span<const std::uint8_t>) override { return true; }
    std::optional<std::size_t> Read(std::span<std::uint8_t> into, std::chrono::milliseconds) override {
        std::fill(into.begin(), into.end(), 0);
        into[lumidex::kReplyStatusByte] = 1; // accepted
        return std::min<std::size_t>(into.size(), lumidex::kReplySize);
    }
    void Close() override {}
    std::string error() const override { return {}; }
};

// "b7" for board 7, appended (GCC 12 sees a false overlap in "b" + ...).
std::string BoardName(int board) {
    std::string name = "b";
    name += std::to_string(board);
    return name;
}

std::filesystem::path BenchParent(const char* variable) {
    const char* dir = std::getenv(variable);
    return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::path("/var/tmp");
}

// 100 boards, line 1 of four digits and two places, in a fresh folder.
lumidex::BridgeConfig MakeBoards(const std::filesystem::path& dir) {
    lumidex::BridgeConfig config;
    config.file = dir / "boards.ini";
    config.refresh = 0s;
    std::ofstream(config.file) << "[bridge]\n";
    for (int b = 1; b <= kBoards; ++b) {
        const std::string name = BoardName(b);
        const auto stored = lumidex::StoredAddressValue(
            *lumidex::ParseDottedAddress(std::string("127.0.1.").append(std::to_string(b))));
        std::ofstream(dir / (name + ".ini"))
            << "[Set]\r\nwsv1=4\r\nwsv6=2\r\nLEDIP=" << stored << "\r\n[TextData]\r\nTD1=1.00\r\n";
        lumidex::BoardConfig board;
        board.name = name;
        board.settings = dir / (name + ".ini");
        config.boards.push_back(board);
    }
    return config;
}

double Percentile(std::vector<double>& sorted, double p) {
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()))];
}

// Arguments: with a record (0/1), the cards' answer time in ms.
void BM_SubmitToDone(benchmark::State& state) {
    const bool recorded = state.range(0) != 0;
    const std::chrono::milliseconds answer{state.range(1)};
    for (auto _ : state) {
        const std::string folder = "bench_record." + std::to_string(::getpid());
        const std::filesystem::path dir = BenchParent("BENCH_BOARDS_DIR") / folder;
        const std::filesystem::path record_dir = BenchParent("BENCH_RECORD_DIR") / folder / "record";
        std::filesystem::remove_all(dir);
        std::filesystem::remove_all(record_dir.parent_path());
        std::filesystem::create_directories(dir);
        std::unique_ptr<lumidex::ChangeRecord> record;
        lumidex::ServiceWorld world;
        if (recorded) {
            std::string error;
            record = lumidex::ChangeRecord::Open(record_dir, 24, error);
            if (!record) {
                state.SkipWithError(error.c_str());
                return;
            }
            world.record = record.get();
        }
        world.make_link = [](const lumidex::LinkTarget&) { return std::make_unique<AcceptingLink>(); };
        world.timing = [answer](const lumidex::LinkTarget&) {
            return lumidex::ExchangeTiming{answer, 100ms};
        };
        lumidex::BoardService service(MakeBoards(dir), std::move(world));
        // When each board's exchange ended (its status): what `done` waits
        // after it is the record's sync. One change per board is in flight.
        std::mutex answered_mutex;
        std::map<std::string, Clock::time_point> answered;
        service.Subscribe([&](const lumidex::BoardEvent& event) {
            if (const auto* status = std::get_if<lumidex::StatusEvent>(&event)) {
                std::lock_guard lock(answered_mutex);
                answered[status->status.board] = Clock::now();
            }
        });
        service.Start();
        std::this_thread::sleep_for(100ms);

        std::vector<double> latencies(kChanges);
        std::vector<double> submits(kChanges); // the Submit call alone: recording and storing
        std::vector<double> after_exchange(kChanges); // from the exchange's end to done
        std::vector<int> failed(kCallers, 0);
        const auto began = Clock::now();
        // Caller k submits changes k, k + 4, ...: change n goes to board
        // n % 100 with a value of its own, and the caller waits for its done.
        auto caller = [&](int k) {
            for (int n = k; n < kChanges; n += kCallers) {
                const std::string board = BoardName(n % kBoards + 1);
                lumidex::BoardChange change;
                char value[16];
                std::snprintf(value, sizeof value, "%d.%02d", 10 + n / 100, n % 100);
                lumidex::AddLineValue(change, 1, value, *service.Rules(board));
                std::mutex mutex;
                std::condition_variable cv;
                bool done = false;
                bool accepted = false;
                const auto start = Clock::now();
                service.Submit(board, std::move(change),
                               [&](const std::vector<lumidex::BoardStatus>& statuses) {
                                   const auto now = Clock::now();
                                   {
                                       std::lock_guard lock(answered_mutex);
                                       after_exchange[n] = std::chrono::duration<double, std::milli>(
                                                               now - answered[board])
                                                               .count();
                                   }
                                   std::lock_guard lock(mutex);
                                   accepted = !statuses.empty() &&
                                              statuses.front().result == lumidex::StatusResult::Accepted;
                                   done = true;
                                   cv.notify_one();
                               },
                               {"bench", "http", "POST /api/boards/" + board});
                submits[n] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                std::unique_lock lock(mutex);
                cv.wait(lock, [&] { return done; });
                latencies[n] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                failed[k] += accepted ? 0 : 1;
            }
        };
        std::vector<std::thread> callers;
        for (int k = 0; k < kCallers; ++k) {
            callers.emplace_back(caller, k);
        }
        for (auto& c : callers) {
            c.join();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        service.Stop();
        state.SetIterationTime(seconds);
        int failures = 0;
        for (int f : failed) {
            failures += f;
        }
        if (failures != 0) {
            state.SkipWithError((std::to_string(failures) + " changes not accepted").c_str());
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["p50_ms"] = Percentile(latencies, 0.50);
        state.counters["p99_ms"] = Percentile(latencies, 0.99);
        state.counters["max_ms"] = latencies.back();
        std::sort(submits.begin(), submits.end());
        state.counters["submit_p50_ms"] = Percentile(submits, 0.50);
        state.counters["submit_p99_ms"] = Percentile(submits, 0.99);
        std::sort(after_exchange.begin(), after_exchange.end());
        state.counters["sync_wait_p50_ms"] = Percentile(after_exchange, 0.50);
        state.counters["sync_wait_p99_ms"] = Percentile(after_exchange, 0.99);
        state.counters["changes_per_s"] = kChanges / seconds;
        if (recorded) {
            std::uintmax_t bytes = 0;
            for (const auto& file : std::filesystem::directory_iterator(record_dir)) {
                bytes += file.file_size();
            }
            state.counters["bytes_per_change"] = static_cast<double>(bytes) / kChanges;
        }
        record.reset();
        std::filesystem::remove_all(dir);
        std::filesystem::remove_all(record_dir.parent_path());
    }
}

BENCHMARK(BM_SubmitToDone)
    ->ArgNames({"record", "answer_ms"})
    ->ArgsProduct({{0, 1}, {0, 5}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
