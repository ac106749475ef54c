#include "tools/bridge/bridge.h"

#include "delivery/delivery.h"
#include "settings/text_codec.h"
#include "tools/bridge/commands.h"
#include "tools/bridge/discovery.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

// The moment as the status gives it: UTC, to the second.
std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

enum class Availability { Unknown, Online, Offline };

// One exchange a board's worker is to make.
enum class Job { None, Init, Content, Brightness, Clock };

} // namespace

struct Bridge::Board {
    BoardConfig config;
    SettingsFile settings;
    std::string base; // PREFIX/NAME
    Worker* worker = nullptr;

    // Guarded by the worker's mutex: what waits to be stored and sent.
    std::vector<std::pair<SettingKey, std::string>> writes;
    bool content = false;
    bool brightness = false;
    bool init = false;
    std::optional<std::optional<ClockTime>> clock;
    Clock::time_point retry_at{};
    std::chrono::seconds pause = kFirstRetryPause;

    // The worker's own.
    int failures = 0;
    Availability availability = Availability::Unknown;
    std::array<std::optional<std::string>, kLineCount> published_lines;

    Board(BoardConfig c, std::string b)
        : config(std::move(c)), settings(config.settings), base(std::move(b)) {}

    bool HasWork() const {
        return !writes.empty() || content || brightness || init || clock.has_value();
    }
};

// One link's worker: a UDP board alone, or every board of one serial port.
struct Bridge::Worker {
    std::vector<Board*> boards;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::size_t next = 0; // where the round of boards goes on
    std::thread thread;
};

struct Bridge::Impl {
    BridgeConfig config;
    Publisher& publisher;
    std::vector<std::unique_ptr<Board>> boards;
    std::vector<std::unique_ptr<Worker>> workers;
    std::map<std::string, Board*> by_name;
    std::map<std::string, std::vector<Board*>> by_group;
    // Cleared when the bridge stops: what arrives then would be neither
    // sent nor stored.
    std::atomic<bool> accepting{true};

    Impl(BridgeConfig c, Publisher& p) : config(std::move(c)), publisher(p) {}

    const std::string& prefix() const { return config.broker.prefix; }

    void PublishStatus(const std::string& status_topic, Json status) {
        status["at"] = UtcNow();
        publisher.Publish(status_topic, status.dump(-1, ' ', false, Json::error_handler_t::replace),
                          true);
    }

    void PublishRefusal(const std::string& status_topic, const std::string& board,
                        const std::string& command, const std::string& topic,
                        const std::string& detail) {
        Json status;
        status["board"] = board;
        status["command"] = command;
        status["result"] = "refused";
        status["detail"] = detail;
        status["topic"] = topic;
        PublishStatus(status_topic, std::move(status));
    }

    void PublishState(Board& board) {
        for (std::size_t i = 0; i < kLineCount; ++i) {
            publisher.Publish(board.base + "/line/" + std::to_string(i + 1),
                              board.settings.Read(keys::kLineText[i]), true);
        }
        publisher.Publish(board.base + "/brightness/day", board.settings.Read(keys::kDayBrightness),
                          true);
        publisher.Publish(board.base + "/brightness/night",
                          board.settings.Read(keys::kNightBrightness), true);
    }

    void PublishDiscovery() {
        for (const auto& board : boards) {
            DiscoveryBoard d{
                board->config.name, prefix(), LineFormatsAfterRefresh(board->settings), {}};
            for (std::size_t i = 0; i < kLineCount; ++i) {
                d.chosen[i] = board->settings.Read(keys::kLineChosen[i]).starts_with('Y');
            }
            for (const auto& [topic, document] : DiscoveryDocuments(d)) {
                publisher.Publish(topic, document, true);
            }
        }
    }

    // Hands a checked command to the board's worker.
    void Queue(Board& board, CheckedCommand command) {
        {
            std::lock_guard lock(board.worker->mutex);
            for (auto& write : command.writes) {
                // A later value of a key replaces one not yet stored.
                std::erase_if(board.writes,
                              [&](const auto& w) { return w.first.name == write.first.name; });
                board.writes.push_back(std::move(write));
            }
            board.content = board.content || command.content;
            board.brightness = board.brightness || command.brightness;
            board.init = board.init || command.init;
            if (command.clock) {
                board.clock = command.clock;
            }
            // A newer state replaces the one a failed board waits to retry:
            // it is tried at once.
            board.retry_at = Clock::time_point{};
        }
        board.worker->wake.notify_one();
    }

    void HandleForBoard(Board& board, const ParsedTopic& parsed, const std::string& topic,
                        const std::string& payload) {
        auto checked = CheckCommand(parsed, payload, LineFormatsAfterRefresh(board.settings));
        if (auto* refusal = std::get_if<std::string>(&checked)) {
            PublishRefusal(board.base + "/status", board.config.name, CommandName(parsed.command),
                           topic, *refusal);
            return;
        }
        Queue(board, std::get<CheckedCommand>(std::move(checked)));
    }

    void OnMessage(const std::string& topic, const std::string& payload, bool retained) {
        if (retained || !accepting) {
            return;
        }
        if (config.broker.discovery && topic == kDiscoveryStatusTopic) {
            if (payload == "online") {
                PublishDiscovery();
            }
            return;
        }
        if (!topic.starts_with(prefix() + "/")) {
            return;
        }
        const ParsedTopic parsed = ParseTopic(std::string_view(topic).substr(prefix().size() + 1));
        if (parsed.kind == TopicKind::OwnState) {
            return;
        }
        const std::string bridge_status = prefix() + "/bridge/status";
        const auto board = by_name.find(parsed.target);
        const bool for_board = parsed.kind != TopicKind::GroupCommand && board != by_name.end() &&
                               !topic.starts_with(prefix() + "/group/");
        const std::string status_topic =
            for_board ? board->second->base + "/status" : bridge_status;
        const std::string name = for_board ? parsed.target : "";
        const std::string command =
            parsed.kind == TopicKind::Unknown ? "unknown" : CommandName(parsed.command);
        if (payload.size() > kMaxPayloadBytes) {
            PublishRefusal(status_topic, name, command, topic,
                           "the payload has " + std::to_string(payload.size()) +
                               " bytes; at most " + std::to_string(kMaxPayloadBytes) +
                               " are taken");
            return;
        }
        if (!IsValidUtf8(payload)) {
            PublishRefusal(status_topic, name, command, topic, "the payload is not UTF-8 text");
            return;
        }
        if (parsed.kind == TopicKind::Unknown) {
            PublishRefusal(status_topic, name, command, topic,
                           for_board ? "no such topic for a board"
                                     : "no board or group of this bridge has this topic");
            return;
        }
        if (parsed.kind == TopicKind::GroupCommand) {
            const auto group = by_group.find(parsed.target);
            if (group == by_group.end()) {
                PublishRefusal(bridge_status, "", command, topic,
                               "no board of this bridge is in group " + parsed.target);
                return;
            }
            for (Board* member : group->second) {
                HandleForBoard(*member, parsed, topic, payload);
            }
            return;
        }
        if (!for_board) {
            PublishRefusal(bridge_status, "", command, topic,
                           "no board " + parsed.target + " on this bridge");
            return;
        }
        HandleForBoard(*board->second, parsed, topic, payload);
    }

    // The command a job sends.
    static BoardCommand CommandOf(Job job, const std::optional<std::optional<ClockTime>>& clock) {
        switch (job) {
        case Job::Brightness:
            return BrightnessCommand{};
        case Job::Clock:
            return ClockCommand{clock ? *clock : std::nullopt};
        case Job::Init:
            return InitialiseCommand{};
        case Job::Content:
        case Job::None:
            break;
        }
        return ContentCommand{};
    }

    // The exchange of one job with one board, then what it came to.
    void Serve(Board& board, Job job, const std::vector<std::pair<SettingKey, std::string>>& writes,
               const std::optional<std::optional<ClockTime>>& clock) {
        // The settings file is the bridge's memory: every value is stored
        // before it is sent, so the dialog shows it and a restart starts
        // from it.
        for (const auto& [key, value] : writes) {
            board.settings.Write(key, value);
        }
        if (job == Job::None) {
            return;
        }
        // A copy of the worker's own: the frame's reads come from one reading
        // of the file (a Snapshot), which a SettingsFile shared with the
        // broker's thread could not hold.
        const SettingsFile settings(board.settings.path());
        std::array<std::string, kLineCount> texts;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            texts[i] = settings.Read(keys::kLineText[i]);
        }
        const BoardCommand command = CommandOf(job, clock);
        std::vector<LinkTarget> targets;
        if (board.config.link == BoardLink::Udp) {
            targets.push_back(ConfiguredUdpTarget(settings).value_or(UdpTarget{"0.0.0.0"}));
        } else {
            targets.push_back(
                SerialTarget{board.config.serial_port, settings.ReadNumber(keys::kBaudRate)});
        }
        const Delivery delivery = Deliver(command, settings, targets);

        Json status;
        status["board"] = board.config.name;
        status["command"] = CommandName(command);
        status["result"] = OutcomeName(delivery.outcome);
        if (!delivery.frame.empty()) {
            status["frame"] = FormatHex(delivery.frame);
        }
        if (!delivery.delivered() || delivery.outcome == DeliveryOutcome::BroadcastSent) {
            status["detail"] = delivery.outcome == DeliveryOutcome::BroadcastSent
                                   ? "sent to bus address 0, where no controller answers"
                                   : delivery.reason;
        }
        PublishStatus(board.base + "/status", std::move(status));
        if (delivery.outcome == DeliveryOutcome::Refused) {
            return;
        }

        if (delivery.outcome == DeliveryOutcome::Accepted) {
            if (job == Job::Content) {
                for (std::size_t i = 0; i < kLineCount; ++i) {
                    if (board.published_lines[i] != texts[i]) {
                        publisher.Publish(board.base + "/line/" + std::to_string(i + 1), texts[i],
                                          true);
                        board.published_lines[i] = texts[i];
                    }
                }
            } else if (job == Job::Brightness) {
                publisher.Publish(board.base + "/brightness/day",
                                  settings.Read(keys::kDayBrightness), true);
                publisher.Publish(board.base + "/brightness/night",
                                  settings.Read(keys::kNightBrightness), true);
            }
        }
        Finish(board, job, delivery.delivered());
    }

    // Notes an exchange's end: availability, and the retry of a state that
    // did not reach the board.
    void Finish(Board& board, Job job, bool delivered) {
        bool went_online = false;
        bool went_offline = false;
        if (delivered) {
            board.failures = 0;
            went_online = board.availability != Availability::Online;
            board.availability = Availability::Online;
        } else {
            ++board.failures;
            if (board.failures >= kFailuresUntilOffline &&
                board.availability != Availability::Offline) {
                went_offline = true;
                board.availability = Availability::Offline;
            }
        }
        {
            std::lock_guard lock(board.worker->mutex);
            if (delivered) {
                board.pause = kFirstRetryPause;
                board.retry_at = Clock::time_point{};
            } else {
                // The state stays pending; the clock and the initialisation
                // are one-off commands and are not repeated.
                board.content = board.content || job == Job::Content;
                board.brightness = board.brightness || job == Job::Brightness;
                board.retry_at = Clock::now() + board.pause;
                board.pause = std::min(board.pause * 2, kLongestRetryPause);
            }
        }
        if (went_online || went_offline) {
            publisher.Publish(board.base + "/availability", went_online ? "online" : "offline",
                              true);
        }
    }

    void Run(Worker& worker) {
        std::unique_lock lock(worker.mutex);
        while (!worker.stopping) {
            const Clock::time_point now = Clock::now();
            Board* due = nullptr;
            std::optional<Clock::time_point> soonest;
            for (std::size_t k = 0; k < worker.boards.size(); ++k) {
                Board* b = worker.boards[(worker.next + k) % worker.boards.size()];
                if (!b->HasWork()) {
                    continue;
                }
                if (b->retry_at <= now) {
                    due = b;
                    worker.next = (worker.next + k + 1) % worker.boards.size();
                    break;
                }
                if (!soonest || b->retry_at < *soonest) {
                    soonest = b->retry_at;
                }
            }
            if (due == nullptr) {
                if (soonest) {
                    worker.wake.wait_until(lock, *soonest);
                } else {
                    worker.wake.wait(lock);
                }
                continue;
            }
            auto writes = std::move(due->writes);
            due->writes.clear();
            Job job = Job::None;
            std::optional<std::optional<ClockTime>> clock;
            if (due->init) {
                job = Job::Init;
                due->init = false;
            } else if (due->content) {
                job = Job::Content;
                due->content = false;
            } else if (due->brightness) {
                job = Job::Brightness;
                due->brightness = false;
            } else if (due->clock) {
                job = Job::Clock;
                clock = std::move(due->clock);
                due->clock.reset();
            }
            lock.unlock();
            Serve(*due, job, writes, clock);
            lock.lock();
        }
    }
};

Bridge::Bridge(BridgeConfig config, Publisher& publisher)
    : impl_(std::make_unique<Impl>(std::move(config), publisher)) {
    std::map<std::string, Worker*> serial_workers;
    for (const BoardConfig& c : impl_->config.boards) {
        auto board = std::make_unique<Board>(c, impl_->prefix() + "/" + c.name);
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
        impl_->by_name[c.name] = board.get();
        for (const std::string& group : c.groups) {
            impl_->by_group[group].push_back(board.get());
        }
        impl_->boards.push_back(std::move(board));
    }
}

Bridge::~Bridge() {
    Stop();
}

std::vector<std::string> Bridge::Subscriptions() const {
    std::vector<std::string> patterns{impl_->prefix() + "/#"};
    if (impl_->config.broker.discovery) {
        patterns.emplace_back(kDiscoveryStatusTopic);
    }
    return patterns;
}

std::string Bridge::AvailabilityTopic() const {
    return impl_->prefix() + "/bridge/availability";
}

void Bridge::OnConnected() {
    for (const auto& board : impl_->boards) {
        impl_->PublishState(*board);
    }
    if (impl_->config.broker.discovery) {
        impl_->PublishDiscovery();
    }
    // Last, so whoever sees "online" finds the state and the documents
    // already retained.
    impl_->publisher.Publish(AvailabilityTopic(), "online", true);
}

void Bridge::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
    impl_->OnMessage(topic, payload, retained);
}

void Bridge::Start() {
    for (const auto& worker : impl_->workers) {
        Worker* w = worker.get();
        w->thread = std::thread([this, w] { impl_->Run(*w); });
    }
}

void Bridge::Stop() {
    impl_->accepting = false;
    bool any = false;
    for (const auto& worker : impl_->workers) {
        if (!worker->thread.joinable()) {
            continue;
        }
        any = true;
        {
            std::lock_guard lock(worker->mutex);
            worker->stopping = true;
        }
        worker->wake.notify_one();
        worker->thread.join();
    }
    if (!any) {
        return;
    }
    // Values that arrived but were not sent yet are kept for the next start.
    for (const auto& board : impl_->boards) {
        for (const auto& [key, value] : board->writes) {
            board->settings.Write(key, value);
        }
        board->writes.clear();
    }
    impl_->publisher.Publish(AvailabilityTopic(), "offline", true);
}

} // namespace lumidex
