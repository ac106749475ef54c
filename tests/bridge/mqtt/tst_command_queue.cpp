// The MQTT door's queue of commands waiting to be checked and stored.
#include "tests/support/temp_dir.h"
#include "tools/bridge/mqtt/command_queue.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

namespace lumidex {
namespace {

struct Put {
    std::string key;
    std::string payload;
    QueuePut result;
};

struct QueueRow {
    std::string name;
    std::size_t bound;
    std::vector<Put> puts;
    std::vector<QueuedCommand> taken; // TakeAll afterwards
};

class CommandQueueRows : public testing::TestWithParam<QueueRow> {};

TEST_P(CommandQueueRows, KeepsTheLastOfEachKeyInTheOrderOfLastArrival) {
    CommandQueue queue(GetParam().bound);
    for (const Put& put : GetParam().puts) {
        EXPECT_EQ(queue.Put(put.key, put.payload), put.result) << put.key << " " << put.payload;
    }
    EXPECT_EQ(queue.size(), GetParam().taken.size());
    EXPECT_EQ(queue.TakeAll(), GetParam().taken);
    EXPECT_TRUE(queue.empty());
    EXPECT_TRUE(queue.TakeAll().empty());
}

constexpr auto kAdded = QueuePut::Added;
constexpr auto kReplaced = QueuePut::Replaced;
constexpr auto kRefused = QueuePut::Refused;

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandQueueRows,
    testing::Values(QueueRow{"empty", 4, {}, {}},
                    QueueRow{"distinct keys in arrival order",
                             4,
                             {{"hall/line/1/set", "1", kAdded}, {"dock/line/1/set", "2", kAdded}},
                             {{"hall/line/1/set", "1"}, {"dock/line/1/set", "2"}}},
                    QueueRow{"a later value replaces the waiting one",
                             4,
                             {{"hall/line/1/set", "1", kAdded},
                              {"hall/line/1/set", "2", kReplaced},
                              {"hall/line/1/set", "3", kReplaced}},
                             {{"hall/line/1/set", "3"}}},
                    QueueRow{"a replaced key moves behind what came between",
                             4,
                             {{"hall/line/1/set", "1", kAdded},
                              {"group/prices/line/1/set", "2", kAdded},
                              {"hall/line/1/set", "3", kReplaced}},
                             {{"group/prices/line/1/set", "2"}, {"hall/line/1/set", "3"}}},
                    QueueRow{"an empty payload is a value too",
                             4,
                             {{"hall/line/1/set", "1", kAdded}, {"hall/line/1/set", "", kReplaced}},
                             {{"hall/line/1/set", ""}}},
                    QueueRow{"full: a new key is refused, a waiting one still replaced",
                             2,
                             {{"hall/line/1/set", "1", kAdded},
                              {"hall/line/2/set", "2", kAdded},
                              {"hall/line/3/set", "3", kRefused},
                              {"hall/line/1/set", "4", kReplaced},
                              {"hall/line/3/set", "5", kRefused}},
                             {{"hall/line/2/set", "2"}, {"hall/line/1/set", "4"}}},
                    QueueRow{"bound 0 takes nothing", 0, {{"hall/line/1/set", "1", kRefused}}, {}}),
    test::RowName{});

// Two schedules published on the same topic are two schedules: appended
// commands are never replaced, and count against the bound as others do.
TEST(CommandQueue, AppendedCommandsAreEachTheirOwn) {
    CommandQueue queue(3);
    EXPECT_EQ(queue.Append("schedules/add", "first"), kAdded);
    EXPECT_EQ(queue.Put("hall/line/1/set", "1"), kAdded);
    EXPECT_EQ(queue.Append("schedules/add", "second"), kAdded);
    EXPECT_EQ(queue.Append("schedules/add", "third"), kRefused);
    EXPECT_EQ(queue.Put("hall/line/1/set", "2"), kReplaced);
    EXPECT_EQ(queue.TakeAll(), (std::vector<QueuedCommand>{{"schedules/add", "first"},
                                                            {"schedules/add", "second"},
                                                            {"hall/line/1/set", "2"}}));
    EXPECT_EQ(queue.Append("schedules/add", "fourth"), kAdded);
}

// What each key changes: a board's line, or that line of every board of a
// group.
std::vector<std::string> Changes(const std::string& key) {
    if (key.starts_with("group/")) {
        return {"hall" + key.substr(12), "dock" + key.substr(12)};
    }
    return {key};
}

void Apply(std::map<std::string, std::string>& boards, const QueuedCommand& command) {
    for (const std::string& changed : Changes(command.key)) {
        boards[changed] = command.payload;
    }
}

// Whatever the messages and however they are taken in batches, the boards
// end as they would had every message been applied in order, and the queue
// never holds more than its bound.
TEST(CommandQueue, BatchesLeaveTheBoardsAsEveryMessageInOrder) {
    const std::vector<std::string> keys{"hall/line/1/set", "dock/line/1/set", "hall/line/2/set",
                                        "group/prices/line/1/set"};
    std::mt19937 random(20240615);
    for (int round = 0; round < 200; ++round) {
        CommandQueue queue(keys.size());
        std::map<std::string, std::string> every_message;
        std::map<std::string, std::string> batched;
        const int messages = 1 + static_cast<int>(random() % 40);
        for (int m = 0; m < messages; ++m) {
            const QueuedCommand command{keys[random() % keys.size()], std::to_string(m)};
            Apply(every_message, command);
            ASSERT_NE(queue.Put(command.key, command.payload), QueuePut::Refused);
            ASSERT_LE(queue.size(), keys.size());
            if (random() % 5 == 0) {
                for (const QueuedCommand& taken : queue.TakeAll()) {
                    Apply(batched, taken);
                }
            }
        }
        for (const QueuedCommand& taken : queue.TakeAll()) {
            Apply(batched, taken);
        }
        ASSERT_EQ(batched, every_message) << "round " << round;
    }
}

} // namespace
} // namespace lumidex
