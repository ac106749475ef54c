#include "tools/bridge/mqtt/door.h"

#include "settings/text_codec.h"
#include "tools/bridge/mqtt/command_queue.h"
#include "tools/bridge/mqtt/discovery.h"
#include "tools/bridge/mqtt/topics.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace lumidex {
namespace {

// How many boards' stores of one batch the door's worker makes at once.
constexpr std::size_t kStoresSideBySide = 8;

// JSON as a payload: one line, text that is not UTF-8 replaced.
std::string Dumped(const nlohmann::ordered_json& json) {
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// What the record keeps of a command as its request: the topic as it came
// and the payload without the blanks around it.
std::string RequestText(const std::string& topic, const std::string& payload) {
    return topic + " " + std::string(TrimPayload(payload));
}

// One board's share of a batch: the commands merged into one change, and
// the request of each whose value the change still carries (a later
// command for the same field replaces an earlier one's), in order.
struct BoardBatch {
    std::string board;
    BoardChange change;
    std::vector<std::pair<std::pair<ChangeField, int>, std::string>> requests;

    void Add(BoardChange later, const ParsedTopic& parsed, std::string request) {
        MergeChange(change, std::move(later));
        const std::pair field{parsed.field, parsed.line};
        std::erase_if(requests, [&](const auto& earlier) { return earlier.first == field; });
        requests.emplace_back(field, std::move(request));
    }

    // Who, via and what for the record: one line per command it carries.
    ChangeOrigin Origin() const {
        std::string request;
        for (const auto& [field, text] : requests) {
            request += (request.empty() ? "" : "\n") + text;
        }
        return {"mqtt", "mqtt", std::move(request)};
    }
};

} // namespace

struct MqttDoor::Impl {
    BoardService& service;
    Publisher& publisher;
    const BrokerConfig& broker;
    int observer = 0;
    // Cleared when the door stops: what arrives then is not taken.
    std::atomic<bool> accepting{true};

    // What this door last published of each board's lines and brightness,
    // so an event publishes only what changed, and the last refusal that
    // named no board; both are published again after every connection.
    std::mutex published_mutex;
    std::map<std::string, BoardShown> published;
    std::optional<std::string> bridge_status;
    // Each board's guarded lines as last published stale or not (nothing:
    // not guarded), so an event publishes only what changed and a guard
    // that ended clears its topic.
    std::map<std::string, std::array<std::optional<bool>, kLineCount>> stale_published;
    // The schedules as the last SchedulesEvent gave them, and how many such
    // events came: a list read at a connection is published only when no
    // newer one came meanwhile.
    std::optional<std::string> schedules;
    std::uint64_t schedules_events = 0;

    // The connection's thread's own: when the discovery documents last went
    // out, whether a request waits, and the topics they use.
    std::chrono::steady_clock::time_point discovery_sent{};
    bool discovery_wanted = false;
    std::set<std::string> discovery_topics;
    // Set by an event when boards were added, removed or set up anew; the
    // connection's thread then renews the discovery documents.
    std::atomic<bool> boards_changed{false};

    // Commands between the connection's thread, which only puts them here,
    // and the door's worker, which checks, stores and hands them on; and
    // the commands refused since the worker last said so, because the
    // queue was full. Guarded by queue_mutex.
    std::mutex queue_mutex;
    std::condition_variable queue_wake;
    CommandQueue queue;
    std::size_t overflowed = 0;
    std::string overflow_topic; // the last of them
    std::optional<Command> overflow_command;
    bool worker_stopping = false;
    std::thread worker;

    Impl(BoardService& s, Publisher& p, const BrokerConfig& b)
        : service(s), publisher(p), broker(b) {}

    const std::string& prefix() const { return broker.prefix; }
    std::string Base(const std::string& board) const { return prefix() + "/" + board; }
    std::string BridgeStatusTopic() const { return prefix() + "/bridge/status"; }
    std::string SchedulesTopic() const { return prefix() + "/schedules"; }
    std::string StaleTopic(const std::string& board, std::size_t index) const {
        return Base(board) + "/line/" + std::to_string(index + 1) + "/stale";
    }
    std::string DiscoveryListTopic() const { return prefix() + "/bridge/discovery"; }

    void PublishShown(const std::string& board, const BoardShown& shown, bool everything) {
        std::lock_guard lock(published_mutex);
        auto [known, fresh] = published.try_emplace(board);
        BoardShown& before = known->second;
        const bool all = everything || fresh;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            if (all || before.lines[i] != shown.lines[i]) {
                publisher.Publish(Base(board) + "/line/" + std::to_string(i + 1),
                                  LineStatePayload(shown.lines[i]), true);
            }
        }
        if (all || before.day != shown.day) {
            publisher.Publish(Base(board) + "/brightness/day", shown.day, true);
        }
        if (all || before.night != shown.night) {
            publisher.Publish(Base(board) + "/brightness/night", shown.night, true);
        }
        before = shown;
    }

    // Each guarded line's stale topic, `everything` or what changed; the
    // topic of a line whose guard ended is cleared.
    void PublishStale(const BoardSnapshot& board, bool everything) {
        std::lock_guard lock(published_mutex);
        auto& before = stale_published[board.name];
        for (std::size_t i = 0; i < kLineCount; ++i) {
            const BoardLine& line = board.lines[i];
            const std::optional<bool> now =
                line.guarded ? std::optional<bool>(line.stale) : std::nullopt;
            if (now && (everything || before[i] != now)) {
                publisher.Publish(StaleTopic(board.name, i), StalePayload(*now), true);
            } else if (!now && before[i]) {
                publisher.Publish(StaleTopic(board.name, i), "", true);
            }
            before[i] = now;
        }
    }

    void PublishSchedules(const std::string& json) {
        std::lock_guard lock(published_mutex);
        schedules = json;
        ++schedules_events;
        publisher.Publish(SchedulesTopic(), json, true);
    }

    void PublishAvailability(const std::string& board, Availability availability) {
        if (availability != Availability::Unknown) {
            publisher.Publish(Base(board) + "/availability",
                              std::string(AvailabilityName(availability)), true);
        }
    }

    void OnEvent(const BoardEvent& event) {
        if (const auto* shown = std::get_if<ShownEvent>(&event)) {
            PublishShown(shown->board.name, shown->board.shown, false);
        } else if (const auto* status = std::get_if<StatusEvent>(&event)) {
            const std::string& board = status->status.board;
            const std::string json = Dumped(StatusJson(status->status));
            if (service.HasBoard(board)) {
                publisher.Publish(Base(board) + "/status", json, true);
            } else {
                std::lock_guard lock(published_mutex);
                bridge_status = json;
                publisher.Publish(BridgeStatusTopic(), json, true);
            }
        } else if (const auto* availability = std::get_if<AvailabilityEvent>(&event)) {
            PublishAvailability(availability->board, availability->availability);
        } else if (const auto* setup = std::get_if<SetUpEvent>(&event)) {
            PublishShown(setup->board.name, setup->board.shown, setup->added);
            PublishStale(setup->board, setup->added);
            PublishAvailability(setup->board.name, setup->board.availability);
            boards_changed = true;
        } else if (const auto* freshness = std::get_if<FreshnessEvent>(&event)) {
            PublishStale(freshness->board, false);
        } else if (const auto* listed = std::get_if<SchedulesEvent>(&event)) {
            PublishSchedules(listed->json);
        } else if (const auto* removed = std::get_if<RemovedEvent>(&event)) {
            Retract(removed->board);
            boards_changed = true;
        } else if (const auto* recorded = std::get_if<RecordEvent>(&event)) {
            // Each line once, as it is appended: a retained one would replay
            // as new to every later subscriber.
            publisher.Publish(Base(recorded->board) + "/record", recorded->line, false);
        }
    }

    // A board left: its retained state goes with it, so no client takes a
    // board that is gone for one that is offline.
    void Retract(const std::string& board) {
        {
            std::lock_guard lock(published_mutex);
            published.erase(board);
            stale_published.erase(board);
        }
        for (std::size_t i = 0; i < kLineCount; ++i) {
            publisher.Publish(Base(board) + "/line/" + std::to_string(i + 1), "", true);
            publisher.Publish(StaleTopic(board, i), "", true);
        }
        for (const char* topic : {"/brightness/day", "/brightness/night", "/status", "/availability"}) {
            publisher.Publish(Base(board) + topic, "", true);
        }
    }

    // After boards were added, removed or set up anew: the discovery
    // documents as the boards are now, those of boards and lines no longer
    // offered removed, and their list.
    void RefreshDiscovery() {
        const std::set<std::string> before = discovery_topics;
        PublishDiscovery();
        for (const std::string& topic : before) {
            if (!discovery_topics.contains(topic)) {
                publisher.Publish(topic, "", true);
            }
        }
        publisher.Publish(DiscoveryListTopic(), DiscoveryList(discovery_topics), true);
    }

    void PublishDiscovery() {
        discovery_topics.clear();
        for (const std::string& name : service.BoardNames()) {
            const auto snapshot = service.Snapshot(name);
            DiscoveryBoard d{name, prefix(), {}, {}};
            for (std::size_t i = 0; i < kLineCount; ++i) {
                d.formats[i] = snapshot->lines[i].format;
                d.chosen[i] = snapshot->lines[i].chosen;
            }
            for (const auto& [topic, document] : DiscoveryDocuments(d)) {
                publisher.Publish(topic, document, true);
                discovery_topics.insert(topic);
            }
        }
        discovery_sent = std::chrono::steady_clock::now();
        discovery_wanted = false;
    }

    // Home Assistant asked for the documents: now, or once the interval
    // since the last time is over.
    void RequestDiscovery() {
        discovery_wanted = true;
        OnTick();
    }

    void OnTick() {
        if (boards_changed.exchange(false) && broker.discovery) {
            RefreshDiscovery();
        }
        if (discovery_wanted &&
            std::chrono::steady_clock::now() - discovery_sent >= kDiscoveryInterval) {
            PublishDiscovery();
        }
    }

    // The list of discovery topics the bridge kept retained when it last
    // ran: what is not offered now is removed (everything, when discovery
    // was turned off), with the list itself when nothing is left.
    void RemoveStaleDiscovery(const std::string& list) {
        for (const std::string& topic : StaleDiscoveryTopics(list, prefix(), discovery_topics)) {
            publisher.Publish(topic, "", true);
        }
        if (discovery_topics.empty()) {
            publisher.Publish(DiscoveryListTopic(), "", true);
        }
    }

    // A name as a refusal repeats it: a name the boards file could hold, or
    // else not repeated at all (the status's topic shows it, cut short).
    static std::string Named(const std::string& name) {
        return IsTopicName(name) ? name : "of that name";
    }

    void Refuse(const std::string& board, std::optional<Command> command, const std::string& topic,
                const std::string& detail) {
        BoardStatus status;
        status.board = board;
        status.command = command;
        status.detail = detail;
        status.topic = topic;
        service.Refuse(std::move(status));
    }

    // Puts a command for the worker (`appended`: one that a later message
    // on its topic does not replace); one the full queue cannot take is
    // counted for the next status on the bridge's topic.
    void Enqueue(std::string key, const std::string& payload, const std::string& topic,
                 std::optional<Command> command, bool appended) {
        {
            std::lock_guard lock(queue_mutex);
            if (worker_stopping) {
                return;
            }
            const QueuePut put = appended ? queue.Append(std::move(key), payload)
                                          : queue.Put(std::move(key), payload);
            if (put == QueuePut::Refused) {
                ++overflowed;
                overflow_topic = topic;
                overflow_command = command;
            }
        }
        queue_wake.notify_one();
    }

    // The door's worker: takes everything that waits, as one batch, until
    // the door stops; a batch in hand is finished first.
    void RunWorker() {
        std::unique_lock lock(queue_mutex);
        for (;;) {
            queue_wake.wait(lock,
                            [&] { return worker_stopping || !queue.empty() || overflowed > 0; });
            if (worker_stopping) {
                return;
            }
            std::vector<QueuedCommand> batch = queue.TakeAll();
            const std::size_t refused = std::exchange(overflowed, 0);
            const std::string topic = overflow_topic;
            const std::optional<Command> command = overflow_command;
            lock.unlock();
            if (refused > 0) {
                Refuse("", command, topic,
                       std::to_string(kMaxQueuedCommands) +
                           " commands wait to be stored, the most the bridge keeps; this one was "
                           "refused" +
                           (refused > 1 ? ", and " + std::to_string(refused - 1) +
                                              " other(s) since the last status like this"
                                        : std::string()));
            }
            HandleBatch(batch);
            lock.lock();
        }
    }

    // A refusal of the service's, with the field at fault, on the bridge's
    // status.
    void RefuseSchedule(const std::string& topic, const BodyRefusal& refusal) {
        Refuse("", std::nullopt, topic,
               refusal.field.empty() ? refusal.error : refusal.field + ": " + refusal.error);
    }

    // A schedule as POST /api/schedules takes it. MQTT has no roles: who may
    // publish here is the broker's access list's to say.
    void AddSchedule(const std::string& payload, const std::string& topic) {
        const auto body = nlohmann::ordered_json::parse(payload, nullptr, false);
        if (body.is_discarded()) {
            Refuse("", std::nullopt, topic, "the payload is no JSON");
            return;
        }
        const auto added = service.AddSchedule(body, Role::Admin, "mqtt");
        if (const auto* refusal = std::get_if<BodyRefusal>(&added)) {
            RefuseSchedule(topic, *refusal);
        }
    }

    void CancelSchedule(const std::string& id, const std::string& topic) {
        if (const auto refusal = service.CancelSchedule(id, Role::Admin)) {
            RefuseSchedule(topic, *refusal);
        }
    }

    // Checks each command with the rules of every board it names (each
    // board's line formats and bounds read once), refuses what does not
    // fit, and hands each board the accepted changes merged in order: one
    // store of its Config.ini and one round of exchanges for the whole
    // batch, recorded as "mqtt"'s with the commands it carries. Schedules
    // are added and cancelled as they come.
    void HandleBatch(const std::vector<QueuedCommand>& batch) {
        std::map<std::string, std::optional<LineRules>> rules;
        std::vector<BoardBatch> changes;
        std::map<std::string, std::size_t> change_of;
        for (const QueuedCommand& queued : batch) {
            const ParsedTopic parsed = ParseTopic(queued.key);
            const std::string topic = prefix() + "/" + queued.key;
            if (parsed.kind == TopicKind::ScheduleAdd) {
                AddSchedule(queued.payload, topic);
                continue;
            }
            if (parsed.kind == TopicKind::ScheduleCancel) {
                CancelSchedule(parsed.target, topic);
                continue;
            }
            const std::vector<std::string> boards = parsed.kind == TopicKind::GroupCommand
                                                        ? service.GroupMembers(parsed.target)
                                                        : std::vector{parsed.target};
            for (const std::string& board : boards) {
                auto [read, first_read] = rules.try_emplace(board);
                if (first_read) {
                    read->second = service.Rules(board);
                }
                if (!read->second) {
                    continue; // the board was checked when the command arrived
                }
                auto checked =
                    ChangeFromText(parsed.field, parsed.line, queued.payload, *read->second);
                if (auto* refusal = std::get_if<std::string>(&checked)) {
                    Refuse(board, CommandOf(parsed.field), topic, *refusal);
                    continue;
                }
                auto [at, first_change] = change_of.try_emplace(board, changes.size());
                if (first_change) {
                    changes.push_back({board, {}, {}});
                }
                changes[at->second].Add(std::get<BoardChange>(std::move(checked)), parsed,
                                        RequestText(topic, queued.payload));
            }
        }
        // Each board's store is a durable replacement of a file of its own:
        // several go side by side, so that the disk's waits overlap. The
        // batch ends with the last, so a board's changes stay in order.
        std::atomic<std::size_t> next{0};
        const auto submit = [&] {
            for (std::size_t i = next++; i < changes.size(); i = next++) {
                BoardBatch& part = changes[i];
                service.Submit(part.board, std::move(part.change), {}, part.Origin());
            }
        };
        std::vector<std::jthread> helpers;
        while (helpers.size() + 1 < std::min(changes.size(), kStoresSideBySide)) {
            helpers.emplace_back(submit);
        }
        submit();
    }

    // Ends the worker once it finished the batch in hand; returns how many
    // commands were still waiting, which are dropped.
    std::size_t StopWorker() {
        {
            std::lock_guard lock(queue_mutex);
            worker_stopping = true;
        }
        queue_wake.notify_one();
        if (worker.joinable()) {
            worker.join();
        }
        std::lock_guard lock(queue_mutex);
        return queue.TakeAll().size();
    }

    // A line's stale topic the broker kept from an earlier run, for a line
    // no longer guarded: cleared, so it does not read as stale for ever.
    void ClearUnguarded(const ParsedTopic& parsed, const std::string& topic) {
        const auto board = service.Snapshot(parsed.target);
        if (board && !board->lines[static_cast<std::size_t>(parsed.line - 1)].guarded) {
            publisher.Publish(topic, "", true);
        }
    }

    void OnMessage(const std::string& topic, const std::string& payload, bool retained) {
        if (retained && topic == DiscoveryListTopic() && !payload.empty()) {
            RemoveStaleDiscovery(payload);
            return;
        }
        if (retained && !payload.empty() && topic.starts_with(prefix() + "/")) {
            const ParsedTopic parsed =
                ParseTopic(std::string_view(topic).substr(prefix().size() + 1));
            if (parsed.kind == TopicKind::LineStale) {
                ClearUnguarded(parsed, topic);
                return;
            }
        }
        if (retained || !accepting) {
            return;
        }
        if (broker.discovery && topic == kDiscoveryStatusTopic) {
            if (payload == "online") {
                RequestDiscovery();
            }
            return;
        }
        if (!topic.starts_with(prefix() + "/")) {
            return;
        }
        const ParsedTopic parsed = ParseTopic(std::string_view(topic).substr(prefix().size() + 1));
        if (parsed.kind == TopicKind::OwnState || parsed.kind == TopicKind::LineStale) {
            return;
        }
        const bool schedule =
            parsed.kind == TopicKind::ScheduleAdd || parsed.kind == TopicKind::ScheduleCancel;
        // A well-formed command for one of this bridge's boards is answered
        // on that board's status; anything else on the bridge's, so junk
        // never overwrites what a board last reported.
        const bool for_board =
            parsed.kind == TopicKind::BoardCommand && service.HasBoard(parsed.target);
        const std::string board = for_board ? parsed.target : "";
        const std::optional<Command> command =
            parsed.kind == TopicKind::Unknown || schedule
                ? std::nullopt
                : std::optional<Command>(CommandOf(parsed.field));
        const std::size_t most = parsed.kind == TopicKind::ScheduleAdd ? kMaxSchedulePayloadBytes
                                                                       : kMaxPayloadBytes;
        if (payload.size() > most) {
            Refuse(board, command, topic,
                   "the payload has " + std::to_string(payload.size()) + " bytes; at most " +
                       std::to_string(most) + " are taken");
            return;
        }
        if (!IsValidUtf8(payload)) {
            Refuse(board, command, topic, "the payload is not UTF-8 text");
            return;
        }
        if (parsed.kind == TopicKind::Unknown) {
            Refuse(board, command, topic, "no board or group of this bridge has this topic");
            return;
        }
        if (parsed.kind == TopicKind::GroupCommand && service.GroupMembers(parsed.target).empty()) {
            Refuse("", command, topic,
                   "no board of this bridge is in group " + Named(parsed.target));
            return;
        }
        if (parsed.kind == TopicKind::BoardCommand && !for_board) {
            Refuse("", command, topic, "no board " + Named(parsed.target) + " on this bridge");
            return;
        }
        // The value is checked against the board's lines by the worker (and
        // a schedule stored by it): this thread also answers the broker's
        // keep-alive.
        Enqueue(topic.substr(prefix().size() + 1), payload, topic, command,
                parsed.kind == TopicKind::ScheduleAdd);
    }
};

MqttDoor::MqttDoor(BoardService& service, Publisher& publisher, const BrokerConfig& broker)
    : impl_(std::make_unique<Impl>(service, publisher, broker)) {
    impl_->observer = service.Subscribe([this](const BoardEvent& event) { impl_->OnEvent(event); });
    impl_->worker = std::thread([door = impl_.get()] { door->RunWorker(); });
}

MqttDoor::~MqttDoor() {
    impl_->StopWorker();
    impl_->service.Unsubscribe(impl_->observer);
}

std::vector<std::string> MqttDoor::Subscriptions() const {
    std::vector<std::string> patterns{impl_->prefix() + "/#"};
    if (impl_->broker.discovery) {
        patterns.emplace_back(kDiscoveryStatusTopic);
    }
    return patterns;
}

std::string MqttDoor::AvailabilityTopic() const {
    return impl_->prefix() + "/bridge/availability";
}

void MqttDoor::OnConnected() {
    Impl& door = *impl_;
    for (const std::string& board : door.service.BoardNames()) {
        const auto snapshot = door.service.Snapshot(board);
        if (!snapshot) {
            continue; // removed meanwhile
        }
        door.PublishShown(board, snapshot->shown, true);
        door.PublishStale(*snapshot, true);
        if (snapshot->last_status) {
            door.publisher.Publish(door.Base(board) + "/status",
                                   Dumped(StatusJson(*snapshot->last_status)), true);
        }
    }
    {
        std::lock_guard lock(door.published_mutex);
        if (door.bridge_status) {
            door.publisher.Publish(door.BridgeStatusTopic(), *door.bridge_status, true);
        }
    }
    for (const auto& [board, availability] : door.service.Availabilities()) {
        door.PublishAvailability(board, availability);
    }
    {
        // The list as read now, unless an event brought a newer one while
        // it was read.
        std::uint64_t events = 0;
        {
            std::lock_guard lock(door.published_mutex);
            events = door.schedules_events;
        }
        std::string json = Dumped(door.service.SchedulesJson());
        std::lock_guard lock(door.published_mutex);
        if (door.schedules_events != events) {
            json = *door.schedules;
        }
        door.publisher.Publish(door.SchedulesTopic(), json, true);
    }
    if (door.broker.discovery) {
        door.PublishDiscovery();
        door.publisher.Publish(door.DiscoveryListTopic(), DiscoveryList(door.discovery_topics),
                               true);
        // Earlier versions offered the initialisation as a one-click button.
        for (const std::string& board : door.service.BoardNames()) {
            door.publisher.Publish("homeassistant/button/" +
                                       DiscoveryNode(door.prefix(), board) + "/init/config",
                                   "", true);
        }
    }
    // Last, so whoever sees "online" finds the state and the documents
    // already retained.
    impl_->publisher.Publish(AvailabilityTopic(), "online", true);
}

void MqttDoor::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
    impl_->OnMessage(topic, payload, retained);
}

void MqttDoor::OnTick() {
    impl_->OnTick();
}

std::size_t MqttDoor::Stop() {
    if (!impl_->accepting.exchange(false)) {
        return 0;
    }
    const std::size_t dropped = impl_->StopWorker();
    impl_->publisher.Publish(AvailabilityTopic(), "offline", true);
    return dropped;
}

} // namespace lumidex
