#pragma once

// The dialog's behaviour over a fake view and a temporary settings file,
// with a snapshot of the file's keys for comparing what a handler wrote.
#include "tests/dialog/fake_view.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>

namespace lumidex::test {

using Keys = std::map<std::string, std::string>;

// Every key of the settings file as "Section/key" -> value.
inline Keys ReadKeys(const std::filesystem::path& file) {
    Keys keys;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        return keys;
    }
    std::string section;
    std::istringstream text(ReadFileOrFail(file));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.starts_with('[')) {
            section = line.substr(1, line.find(']') - 1);
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            keys[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return keys;
}

// The keys that changed between two snapshots, as "Section/key=value, ...".
inline std::string ChangedKeys(const Keys& before, const Keys& after) {
    std::string changed;
    for (const auto& [key, value] : after) {
        const auto old = before.find(key);
        if (old == before.end() || old->second != value) {
            changed += (changed.empty() ? "" : ", ") + key + "=" + value;
        }
    }
    return changed;
}

class DialogFixture {
public:
    // A dialog over a settings file that holds `ini` (no file when empty).
    void Start(const std::string& ini = {}) {
        dialog_.reset();
        dir_ = std::make_unique<TempDir>();
        view_ = std::make_unique<FakeView>();
        if (!ini.empty()) {
            WriteFileOrFail(config(), ini);
        }
        dialog_ = std::make_unique<dialog::CNumiconDlg>(
            *view_, dialog::CNumiconDlg::Environment{config(), [this] { return ports_; },
                                                     dir_->path() / "Help.doc", "lumidex"});
        dialog_->OnInitDialog();
        operator_ = std::make_unique<Operator>(*view_, *dialog_);
    }

    std::filesystem::path config() const { return dir_->path() / "Config.ini"; }
    std::string Stored(const SettingKey& key) const { return dialog_->settings().Read(key); }
    FakeView& view() { return *view_; }
    dialog::CNumiconDlg& dialog() { return *dialog_; }
    Operator& op() { return *operator_; }

protected:
    std::optional<std::vector<std::string>> ports_{{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyS1"}};

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<FakeView> view_;
    std::unique_ptr<dialog::CNumiconDlg> dialog_;
    std::unique_ptr<Operator> operator_;
};

} // namespace lumidex::test
