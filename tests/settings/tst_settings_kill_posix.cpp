// A writer killed with SIGKILL at random moments: after every kill the file
// is whole, and each key holds either its old or its new value.
//
// LUMIDEX_KILL_ROUNDS sets the number of kills (300 when unset), e.g.
//   LUMIDEX_KILL_ROUNDS=2000 tests/tst_settings --gtest_filter='SettingsFileKill.*'
#include "settings/profile.h"
#include "tests/settings/forked_posix.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <unistd.h>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kDefaultKillRounds = 300;
constexpr int kKeys = 4;
constexpr std::string_view kSection = "TextBT";

int KillRounds() {
    const char* text = std::getenv("LUMIDEX_KILL_ROUNDS");
    if (text == nullptr) {
        return kDefaultKillRounds;
    }
    char* end = nullptr;
    const long rounds = std::strtol(text, &end, 10);
    return (end != text && *end == '\0' && rounds > 0 && rounds <= 1000000)
               ? static_cast<int>(rounds)
               : kDefaultKillRounds;
}

std::string KeyName(int key) {
    return "TB" + std::to_string(key + 1);
}

// The value key `key` gets in generation `generation`: the generation, then
// filler whose length varies, so that some writes are large enough for a
// kill to land in the middle of them.
std::string ValueOf(int key, int generation) {
    const std::size_t filler = generation % 3 == 0 ? 30000 : 10 + generation % 7;
    return std::to_string(generation) + ":" + std::string(filler, static_cast<char>('a' + key));
}

// The whole file after a given generation of every key, in the order the
// keys were first written.
std::string FileOf(const std::vector<int>& generations) {
    std::string text = "[" + std::string(kSection) + "]\r\n";
    for (int key = 0; key < kKeys; ++key) {
        text += KeyName(key) + "=" + ValueOf(key, generations[key]) + "\r\n";
    }
    return text;
}

// The writer goes through the keys in order, one generation after the other,
// so a file it leaves holds generation g in keys 0..j-1 and g-1 in the rest.
bool IsWriterState(const std::vector<int>& generations) {
    int drops = 0;
    for (int key = 1; key < kKeys; ++key) {
        const int step = generations[key - 1] - generations[key];
        if (step < 0 || step > 1) {
            return false;
        }
        drops += step;
    }
    return drops <= 1;
}

// The generation a key's value carries, or nothing when it is no value the
// writer ever wrote.
std::optional<int> GenerationOf(int key, const std::string& value) {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 9) {
        return std::nullopt;
    }
    const int generation = std::stoi(value.substr(0, colon));
    return ValueOf(key, generation) == value ? std::optional<int>(generation) : std::nullopt;
}

TEST(SettingsFileKill, EveryKillLeavesAWholeFile) {
    const int rounds = KillRounds();
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    std::vector<int> generations(kKeys, 0);
    for (int key = 0; key < kKeys; ++key) {
        ASSERT_TRUE(WriteSetting(file, kSection, KeyName(key), ValueOf(key, 0)));
    }
    std::mt19937 random(20261208u);
    std::uniform_int_distribution<int> delay_us(0, 4000);
    int failures = 0;
    int killed_inside_a_write = 0;
    for (int round = 0; round < rounds && failures < 5; ++round) {
        // The next write: the first key behind the others, or key 0 of the
        // next generation.
        int next_key = 0;
        while (next_key < kKeys && generations[next_key] == generations[0]) {
            ++next_key;
        }
        int next_generation = generations[0];
        if (next_key == kKeys) {
            next_key = 0;
            next_generation += 1;
        }
        test::ChildSignal started;
        test::Forked writer([&] {
            int key = next_key;
            for (int generation = next_generation;; ++generation, key = 0) {
                for (; key < kKeys; ++key) {
                    WriteSetting(file, kSection, KeyName(key), ValueOf(key, generation));
                    if (generation == next_generation && key == next_key) {
                        started.Send();
                    }
                }
            }
            return 0;
        });
        ASSERT_TRUE(writer.started());
        ASSERT_TRUE(started.Await(10s)) << "round " << round << ": the writer never wrote";
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        writer.Kill();

        std::vector<int> now(kKeys, -1);
        for (int key = 0; key < kKeys; ++key) {
            const auto generation =
                GenerationOf(key, ReadSetting(file, kSection, KeyName(key), "", 1 << 20));
            now[key] = generation.value_or(-1);
        }
        bool moved_on = true; // no key went back to an older value
        for (int key = 0; key < kKeys; ++key) {
            moved_on = moved_on && now[key] >= generations[key];
        }
        const bool whole =
            IsWriterState(now) && moved_on && test::ReadFileOrFail(file) == FileOf(now);
        if (!whole) {
            ++failures;
            ADD_FAILURE() << "round " << round << ": a torn or lost write, generations "
                          << testing::PrintToString(now) << " after "
                          << testing::PrintToString(generations);
            continue;
        }
        generations = now;
        // Beside the file and its lock a killed writer may leave its
        // temporary file, never more than one.
        const auto entries = std::distance(fs::directory_iterator(dir.path()), {});
        EXPECT_LE(entries, 3) << "round " << round;
        killed_inside_a_write += entries == 3 ? 1 : 0;
    }
    // The kills must land inside writes (between the temporary file and the
    // rename) often enough to test anything.
    if (rounds >= 100) {
        EXPECT_GE(killed_inside_a_write, rounds / 20);
    }
    std::cout << killed_inside_a_write << " of " << rounds << " kills inside a write\n";
    // The next write clears what killed writers left behind.
    ASSERT_TRUE(WriteSetting(file, kSection, KeyName(0), ValueOf(0, 0)));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".Config.ini.lock", "Config.ini"}));
}

} // namespace
} // namespace lumidex
