// The dialog's speed: from process start to the dialog shown (offscreen) and
// the resident memory then, and one keystroke in a line editor with its
// reads of a realistic Config.ini.
#include "gui/qt/message_boxes.h"
#include "gui/qt/numicon_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The Config.ini of a station in daily use.
void WriteRealisticConfig(const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "[Set]\r\nSet=1\r\nUIN=Now\r\nADD485=01\r\nLEDIP=-1062731420\r\n";
    const char* digits[] = {"wsv1", "wsv2", "wsv3", "wsv4", "wsv5", "wsv22"};
    const char* places[] = {"wsv6", "wsv7", "wsv8", "wsv9", "wsv10", "wsv23"};
    for (int i = 0; i < 6; ++i) {
        out << digits[i] << "=8\r\n"
            << places[i] << "=2\r\nFCC" << i + 1 << "=0\r\nPLL" << i + 1 << "=0\r\n";
    }
    out << "setsws=8\r\nsetsss=2\r\nFCC=0\r\nPLL=0\r\n[Text]\r\n";
    for (int i = 1; i <= 6; ++i) {
        out << "Text" << i << "=Yes\r\n";
    }
    out << "[TextData]\r\n";
    for (int i = 1; i <= 6; ++i) {
        out << "TD" << i << "=1234.56\r\n";
    }
    out << "[TextBT]\r\n";
    for (int i = 1; i <= 6; ++i) {
        out << "TB" << i << "=Production line " << i << "\r\n";
    }
    out << "[Port]\r\nPort=/dev/ttyUSB0\r\nBoud=9600\r\n[LD]\r\nLD=5\r\nLD2=3\r\n";
}

std::filesystem::path TempDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumidex-bench.XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

// Process start to "shown", by the probe in a directory of its own.
void BM_StartupToShown(benchmark::State& state) {
    const auto dir = TempDirectory();
    std::filesystem::copy_file(LUMIDEX_STARTUP_PROBE, dir / "probe");
    WriteRealisticConfig(dir / "Config.ini");
    const std::string command =
        "QT_QPA_PLATFORM=offscreen " + (dir / "probe").string() + " 2>/dev/null";
    long resident = 0;
    for (auto _ : state) {
        FILE* probe = ::popen(command.c_str(), "r");
        char line[64] = {};
        if (std::fgets(line, sizeof line, probe) == nullptr ||
            std::sscanf(line, "shown %ld", &resident) != 1) {
            state.SkipWithError("the probe did not show its dialog");
        }
        ::pclose(probe);
    }
    state.counters["rss_MB"] = static_cast<double>(resident) / 1024.0;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_StartupToShown)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// One typed digit and one backspace in line 1's editor, each checked
// against the settings file; reported per keystroke.
void BM_LineEditorKeystroke(benchmark::State& state) {
    const auto dir = TempDirectory();
    WriteRealisticConfig(dir / "Config.ini");
    QtMessageBoxes boxes;
    NumiconWindow::Environment environment;
    environment.settings_path = dir / "Config.ini";
    environment.boxes = &boxes;
    environment.port_lister = [] { return std::optional(std::vector<std::string>{}); };
    environment.local_time = [] { return lumidex::ClockTime{}; };
    NumiconWindow dialog(environment);
    auto* editor = dialog.control<QLineEdit>(1005);
    editor->setText("12");
    editor->setCursorPosition(2);
    QKeyEvent digit(QEvent::KeyPress, Qt::Key_3, Qt::NoModifier, "3");
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, "\b");
    for (auto _ : state) {
        QApplication::sendEvent(editor, &digit);
        QApplication::sendEvent(editor, &backspace);
    }
    if (editor->text() != "12") {
        state.SkipWithError("the editor did not take the keystrokes");
    }
    state.SetItemsProcessed(state.iterations() * 2);
    state.counters["us_per_key"] =
        benchmark::Counter(static_cast<double>(state.iterations() * 2),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LineEditorKeystroke)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
