#pragma once

// The board service driven in-process: scripted controller cards behind fake
// links, what the service tells its observers, and a clock the test moves
// forward.
#include "boards/service.h"

#include "link/address.h"
#include "protocol/frame_decoder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_link.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace lumidex {

using namespace std::chrono_literals;
using test::FakeClock;
using test::FakeLink;

constexpr std::uint8_t kAccepted = 1;
// A port name as each system's settings hold one (Windows: at most "COM99").
#ifdef _WIN32
constexpr const char* kSharedPort = "COM7";
#else
constexpr const char* kSharedPort = "/dev/ttyFAKE0";
#endif

// Controller cards the service reaches through fake links: each card (one
// per UDP address or serial port) plays its script, one step per opening
// of a link to it, and counts how many links to it are open at once.
class Cards {
public:
    void Script(const std::string& card, std::vector<FakeLink::Step> steps) {
        std::lock_guard lock(mutex_);
        cards_[card].steps = std::move(steps);
    }
    void Accept(const std::string& card) { Script(card, {FakeLink::Answers(FakeLink::Answer(kAccepted))}); }
    void Silence(const std::string& card) { Script(card, {FakeLink::Silent()}); }
    // Called when a link to the card opens (before it writes).
    void OnOpen(std::function<void()> hook) { on_open_ = std::move(hook); }

    int MostOpenAtOnce(const std::string& card) {
        std::lock_guard lock(mutex_);
        return cards_[card].most_open;
    }

    LinkMaker Maker() {
        return [this](const LinkTarget& target) -> std::unique_ptr<Link> {
            const std::string name = std::holds_alternative<UdpTarget>(target)
                                         ? std::get<UdpTarget>(target).address
                                         : std::get<SerialTarget>(target).port;
            std::lock_guard lock(mutex_);
            Card& card = cards_[name];
            return std::make_unique<CardLink>(*this, card,
                                              FakeLink(card.steps.empty()
                                                           ? std::vector{FakeLink::Silent()}
                                                           : card.steps,
                                                       card.record));
        };
    }

private:
    struct Card {
        std::vector<FakeLink::Step> steps;
        std::shared_ptr<FakeLink::Record> record = std::make_shared<FakeLink::Record>();
        int open = 0;
        int most_open = 0;
    };

    class CardLink final : public Link {
    public:
        CardLink(Cards& cards, Card& card, FakeLink link)
            : cards_(cards), card_(card), link_(std::move(link)) {}
        bool Open() override {
            {
                std::lock_guard lock(cards_.mutex_);
                card_.most_open = std::max(card_.most_open, ++card_.open);
            }
            if (cards_.on_open_) {
                cards_.on_open_();
            }
            return link_.Open();
        }
        bool Write(std::span<const std::uint8_t> frame) override {
            // Another link to the card opened meanwhile would show here.
            std::this_thread::yield();
            return link_.Write(frame);
        }
        std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                        std::chrono::milliseconds timeout) override {
            return link_.Read(into, timeout);
        }
        void Close() override {
            link_.Close();
            std::lock_guard lock(cards_.mutex_);
            --card_.open;
        }
        std::string error() const override { return link_.error(); }

    private:
        Cards& cards_;
        Card& card_;
        FakeLink link_;
    };

    std::mutex mutex_;
    std::map<std::string, Card> cards_;
    std::function<void()> on_open_;
};

// Everything the service told its observers.
class Recorder {
public:
    explicit Recorder(BoardService& service) : service_(service) {
        id_ = service.Subscribe([this](const BoardEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        });
    }
    ~Recorder() { service_.Unsubscribe(id_); }

    std::vector<BoardStatus> Statuses(const std::string& board) {
        std::lock_guard lock(mutex_);
        std::vector<BoardStatus> found;
        for (const BoardEvent& event : events_) {
            if (const auto* status = std::get_if<StatusEvent>(&event);
                status && status->status.board == board) {
                found.push_back(status->status);
            }
        }
        return found;
    }

    std::vector<Availability> Availabilities(const std::string& board) {
        std::lock_guard lock(mutex_);
        std::vector<Availability> found;
        for (const BoardEvent& event : events_) {
            if (const auto* a = std::get_if<AvailabilityEvent>(&event); a && a->board == board) {
                found.push_back(a->availability);
            }
        }
        return found;
    }

private:
    BoardService& service_;
    int id_ = 0;
    std::mutex mutex_;
    std::vector<BoardEvent> events_;
};

// Line 1's text in a content frame, without the blanks it is padded with.
inline std::string LineOne(const Frame& frame) {
    const auto decoded = DecodeFrame(frame);
    if (!decoded.frame) {
        return "?";
    }
    for (const DecodedLine& line : decoded.frame->lines) {
        if (line.line == 1) {
            const std::size_t first = line.text.find_first_not_of(' ');
            return first == std::string::npos ? "" : line.text.substr(first, line.text.find_last_not_of(' ') - first + 1);
        }
    }
    return "?";
}

class BoardServiceTest : public testing::Test {
protected:
    // A UDP board at `address` (its card is named by the address), or a
    // serial board on `port`.
    void AddUdpBoard(const std::string& name, const std::string& address,
                     std::optional<std::chrono::seconds> refresh = 0s) {
        const std::string stored = std::to_string(StoredAddressValue(*ParseDottedAddress(address)));
        test::WriteFileOrFail(dir_ / (name + ".ini"),
                              "[Set]\r\nwsv1=4\r\nwsv6=2\r\nLEDIP=" + stored + "\r\n[TextData]\r\nTD1=1.00\r\n");
        config_.boards.push_back({name, dir_ / (name + ".ini"), BoardLink::Udp, {}, {}, refresh, {}, {}});
    }
    void AddSerialBoard(const std::string& name, const std::string& port) {
        test::WriteFileOrFail(dir_ / (name + ".ini"),
                              "[Set]\r\nwsv1=4\r\nwsv6=2\r\n[Port]\r\nPort=" + port +
                                  "\r\nBoud=9600\r\n[TextData]\r\nTD1=1.00\r\n");
        config_.boards.push_back({name, dir_ / (name + ".ini"), BoardLink::Serial, {}, port, 0s, {}, {}});
    }

    std::unique_ptr<BoardService> MakeService() {
        ServiceWorld world;
        world.clock = &clock_;
        world.make_link = cards_.Maker();
        world.timing = [](const LinkTarget&) { return ExchangeTiming{0ms, 0ms}; };
        world.lock_wait = 50ms;
        world.zone = zone_;
        world.record = record_;
        return std::make_unique<BoardService>(config_, std::move(world));
    }

    // How many threads of a started service wait on the clock: a worker per
    // UDP board, one per serial port, and the timekeeper.
    std::size_t Workers() const {
        std::set<std::string> serial_ports;
        std::size_t udp = 0;
        for (const BoardConfig& board : config_.boards) {
            board.link == BoardLink::Udp ? ++udp : (serial_ports.insert(board.serial_port), 0u);
        }
        return udp + serial_ports.size() + 1;
    }

    // Hands the service a line 1 value and waits until it has done what it
    // can do now.
    void SetLineOne(BoardService& service, const std::string& board, const std::string& value) {
        BoardChange change;
        ASSERT_EQ(AddLineValue(change, 1, value, *service.Rules(board)), std::nullopt);
        const auto since = clock_.Waits();
        ASSERT_TRUE(service.Submit(board, std::move(change)));
        ASSERT_TRUE(clock_.Settled(Workers(), since));
    }

    // Waits (in real time, up to 5 s) until `done` holds: for what other
    // threads than the one the clock or a change woke go on to do, which
    // Settled cannot see begin.
    static bool Eventually(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + 5s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    void Advance(std::chrono::milliseconds by) {
        clock_.Advance(by);
        ASSERT_TRUE(clock_.Settled(Workers())) << "the service did not settle";
    }

    test::TempDir dir_;
    TimeZone* zone_ = nullptr; // the system's
    BridgeConfig config_{dir_ / "boards.ini", 0s, {}, dir_ / "record", kDefaultRecordMonths, {}, {}};
    ChangeRecord* record_ = nullptr; // none unless a test keeps one
    FakeClock clock_;
    Cards cards_;
};

} // namespace lumidex
