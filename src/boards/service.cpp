#include "boards/service.h"

#include "boards/worker.h"
#include "settings/file_io.h"

#include <algorithm>
#include <atomic>
#include <map>

namespace lumidex {
namespace {

// How long a door's thread waits for a board's settings lock before it
// leaves the values to the board's worker.
constexpr std::chrono::milliseconds kDoorLockWait{100};

// A text cut to at most `bytes` bytes, never inside a UTF-8 character.
std::string CutText(std::string text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text + "...";
}

// What a board owes after the change, of what the pending file remembers.
Commands Remembered(Commands sends) {
    Commands owed;
    for (const Command command : {Command::Content, Command::Brightness}) {
        if (sends.Has(command)) {
            owed.Add(command);
        }
    }
    return owed;
}

} // namespace

struct BoardService::Impl {
    BridgeConfig config;
    ServiceShared shared;
    std::vector<std::unique_ptr<Board>> boards;
    std::vector<std::unique_ptr<Worker>> workers;
    std::map<std::string, Board*> by_name;
    std::map<std::string, std::vector<Board*>> by_group;
    std::atomic<bool> running{false};

    Impl(BridgeConfig c, ServiceWorld world)
        : config(std::move(c)),
          shared{world.clock != nullptr ? *world.clock : SystemServiceClock(),
                 DeliveryOptions{std::move(world.make_link), std::move(world.timing), {}},
                 world.lock_wait,
                 {},
                 {}} {}

    Board* Find(const std::string& name) const {
        const auto found = by_name.find(name);
        return found == by_name.end() ? nullptr : found->second;
    }

    bool Submit(const std::string& name, BoardChange change, Done done) {
        Board* board = Find(name);
        if (board == nullptr) {
            return false;
        }
        const bool stores = !change.writes.empty();
        // A door's thread waits only briefly; the worker waits out the whole
        // lock wait for what is left.
        board->store.Take(Remembered(change.sends), std::move(change.writes),
                          std::min(kDoorLockWait, shared.lock_wait));
        if (stores) {
            shared.Reread(*board);
            shared.observers.Emit(StoredEvent{shared.Snapshot(*board)});
        }
        Worker& worker = *board->worker;
        auto waiter = std::make_shared<Waiter>();
        waiter->done = std::move(done);
        waiter->needs = change.sends;
        {
            std::lock_guard lock(worker.mutex);
            board->due |= change.sends;
            if (change.sends.Has(Command::Clock)) {
                board->clock_time = change.clock_time;
            }
            ++board->generation;
            if (board->in_flight) {
                // Sent right after the exchange in flight, whatever pause a
                // failure would have asked for.
                board->newer_during_flight = true;
            } else {
                board->retry_at = {};
            }
            if (waiter->done && !change.sends.Empty()) {
                board->waiters.push_back(waiter);
            }
        }
        worker.wake.notify_one();
        if (waiter->done && change.sends.Empty()) {
            waiter->done({}); // the values are stored, which is all there is to do
        }
        return true;
    }

    // Whoever still waits hears that nothing more goes out now; what was
    // stored stays pending for the next start.
    void TellWaitersNotSent() {
        for (const auto& board : boards) {
            std::list<std::shared_ptr<Waiter>> waiting;
            {
                std::lock_guard lock(board->worker->mutex);
                waiting.swap(board->waiters);
            }
            for (const auto& waiter : waiting) {
                BoardStatus status;
                status.board = board->config.name;
                status.command = waiter->needs.First();
                status.result = StatusResult::NotSent;
                status.detail = "the service is stopping; the values are stored and go out when "
                                "it starts again";
                status.at = shared.clock.WallNow();
                waiter->statuses.push_back(status);
                waiter->done(waiter->statuses);
            }
        }
    }
};

BoardService::BoardService(BridgeConfig config, ServiceWorld world)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(world))) {
    std::map<std::string, Worker*> serial_workers;
    for (const BoardConfig& c : impl_->config.boards) {
        auto board = std::make_unique<Board>(c);
        board->refresh = c.refresh.value_or(impl_->config.refresh);
        Worker* worker = nullptr;
        if (c.link == BoardLink::Serial) {
            if (auto found = serial_workers.find(c.serial_port); found != serial_workers.end()) {
                worker = found->second;
            }
        }
        if (worker == nullptr) {
            impl_->workers.push_back(std::make_unique<Worker>());
            worker = impl_->workers.back().get();
            if (c.link == BoardLink::Serial) {
                serial_workers[c.serial_port] = worker;
            }
        }
        worker->boards.push_back(board.get());
        board->worker = worker;
        // What the board shows: what it last accepted, as kept beside its
        // file; at the very first start, what its Config.ini holds.
        impl_->shared.Reread(*board);
        if (const auto shown = board->store.Shown()) {
            board->shown = *shown;
        } else {
            board->shown = board->stored.AsShown();
            board->store.RememberShown(board->shown);
        }
        impl_->by_name[c.name] = board.get();
        for (const std::string& group : c.groups) {
            impl_->by_group[group].push_back(board.get());
        }
        impl_->boards.push_back(std::move(board));
    }
}

BoardService::~BoardService() {
    Stop();
}

const BridgeConfig& BoardService::config() const {
    return impl_->config;
}

int BoardService::Subscribe(Observer observer) {
    return impl_->shared.observers.Add(std::move(observer));
}

void BoardService::Unsubscribe(int id) {
    impl_->shared.observers.Remove(id);
}

void BoardService::Start() {
    if (impl_->running.exchange(true)) {
        return;
    }
    const ServiceClock::TimePoint now = impl_->shared.clock.Now();
    for (const auto& board : impl_->boards) {
        std::lock_guard lock(board->worker->mutex);
        board->due |= board->store.Owed();
        if (board->refresh.count() > 0) {
            board->refresh_at = now;
        }
    }
    for (const auto& worker : impl_->workers) {
        Worker* w = worker.get();
        w->stopping = false;
        w->thread = std::thread([this, w] { w->Run(impl_->shared); });
    }
}

void BoardService::Stop() {
    if (!impl_->running.exchange(false)) {
        return;
    }
    for (const auto& worker : impl_->workers) {
        {
            std::lock_guard lock(worker->mutex);
            worker->stopping = true;
        }
        worker->wake.notify_one();
        worker->thread.join();
    }
    impl_->TellWaitersNotSent();
}

std::vector<std::string> BoardService::BoardNames() const {
    std::vector<std::string> names;
    for (const auto& board : impl_->boards) {
        names.push_back(board->config.name);
    }
    return names;
}

std::vector<std::string> BoardService::GroupMembers(const std::string& group) const {
    std::vector<std::string> names;
    if (auto found = impl_->by_group.find(group); found != impl_->by_group.end()) {
        for (const Board* board : found->second) {
            names.push_back(board->config.name);
        }
    }
    return names;
}

bool BoardService::HasBoard(const std::string& board) const {
    return impl_->Find(board) != nullptr;
}

std::optional<std::array<LineFormat, kLineCount>>
BoardService::Formats(const std::string& board) const {
    const Board* found = impl_->Find(board);
    if (found == nullptr) {
        return std::nullopt;
    }
    std::lock_guard lock(impl_->shared.state_mutex);
    return found->stored.Formats();
}

std::optional<BoardSnapshot> BoardService::Snapshot(const std::string& board) const {
    const Board* found = impl_->Find(board);
    if (found == nullptr) {
        return std::nullopt;
    }
    return impl_->shared.Snapshot(*found);
}

std::vector<std::pair<std::string, Availability>> BoardService::Availabilities() const {
    std::vector<std::pair<std::string, Availability>> all;
    std::lock_guard lock(impl_->shared.state_mutex);
    for (const auto& board : impl_->boards) {
        all.emplace_back(board->config.name, board->availability);
    }
    return all;
}

bool BoardService::Submit(const std::string& board, BoardChange change, Done done) {
    return impl_->Submit(board, std::move(change), std::move(done));
}

void BoardService::Refuse(BoardStatus status) {
    status.topic = CutText(std::move(status.topic), kMaxEchoedBytes);
    status.result = StatusResult::Refused;
    status.at = impl_->shared.clock.WallNow();
    impl_->shared.Report(impl_->Find(status.board), std::move(status));
}

std::chrono::milliseconds BoardService::WaitLimit(const std::string& board,
                                                  const BoardChange& change) const {
    const Board* found = impl_->Find(board);
    if (found == nullptr) {
        return std::chrono::seconds{1};
    }
    const LinkTarget target = found->config.link == BoardLink::Udp
                                  ? LinkTarget{UdpTarget{}}
                                  : LinkTarget{SerialTarget{found->config.serial_port}};
    const ExchangeTiming timing =
        impl_->shared.delivery.timing ? impl_->shared.delivery.timing(target) : TimingOf(target);
    const auto one = timing.reply_delay + timing.read_timeout;
    int exchanges = 0;
    for (const Command command : kCommands) {
        if (change.sends.Has(command)) {
            // Content is tried twice, as the dialog's send retries it.
            exchanges += command == Command::Content ? 2 : 1;
        }
    }
    return one * exchanges + std::chrono::seconds{1};
}

} // namespace lumidex
