// Settings-file speed: one key from a realistic 4 KB file, a whole settings
// refresh (every key the dialog reads), and one durable write.
#include "settings/keys.h"
#include "settings/profile.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace lumidex;

// A Config.ini as a long-used installation has it, padded to about 4 KB.
std::filesystem::path MakeConfig() {
    static const std::filesystem::path dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumidex-bench.XXXXXX").string();
        return std::filesystem::path(::mkdtemp(pattern.data()));
    }();
    const auto file = dir / "Config.ini";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "; Lumidex settings\r\n[Set]\r\nSet=1\r\n";
    for (int i = 0; i < kLineCount; ++i) {
        out << keys::kDigitCount[i].name << "=5\r\n" << keys::kDecimalPlaces[i].name << "=2\r\n";
        out << keys::kFlicker[i].name << "=0\r\n" << keys::kPoint[i].name << "=0\r\n";
    }
    out << "setsws=5\r\nsetsss=2\r\nFCC=0\r\nPLL=0\r\nUIN=Now\r\nADD485=01\r\nLEDIP=-"
           "1062731420\r\n";
    out << "[Text]\r\n";
    for (int i = 0; i < kLineCount; ++i) {
        out << keys::kLineChosen[i].name << "=Yes\r\n";
    }
    out << "[TextData]\r\n";
    for (int i = 0; i < kLineCount; ++i) {
        out << keys::kLineText[i].name << "=123.45\r\n";
    }
    out << "[TextBT]\r\n";
    for (int i = 0; i < kLineCount; ++i) {
        out << keys::kCaption[i].name << "=Production line " << i + 1 << " output today\r\n";
    }
    // Notes an operator keeps in the file, which every read walks past.
    out << "[Notes]\r\n";
    for (int i = 0; out.tellp() < 3900; ++i) {
        out << "; shift " << i << ": checked display brightness and clock, all fine\r\n";
    }
    out << "[Port]\r\nPort=/dev/ttyUSB0\r\nBoud=9600\r\n[LD]\r\nLD=5\r\nLD2=3\r\n";
    return file;
}

void BM_ReadOneKey(benchmark::State& state) {
    const SettingsFile settings(MakeConfig());
    for (auto _ : state) {
        benchmark::DoNotOptimize(settings.Read(keys::kNightBrightness));
    }
}
BENCHMARK(BM_ReadOneKey);

// Every key the settings refresh reads, each with its own file read.
void BM_RefreshReads(benchmark::State& state) {
    const SettingsFile settings(MakeConfig());
    for (auto _ : state) {
        for (const SettingKey& key : AllSettingKeys()) {
            benchmark::DoNotOptimize(settings.Read(key));
        }
    }
    state.counters["keys"] = static_cast<double>(AllSettingKeys().size());
}
BENCHMARK(BM_RefreshReads)->Unit(benchmark::kMicrosecond);

void BM_DurableWrite(benchmark::State& state) {
    const SettingsFile settings(MakeConfig());
    int value = 0;
    for (auto _ : state) {
        settings.Write(keys::kDayBrightness, std::to_string(value++ % 8));
    }
}
BENCHMARK(BM_DurableWrite)->Unit(benchmark::kMicrosecond);

} // namespace
