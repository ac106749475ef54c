#pragma once

// The dialog's behaviour over a fake view and a temporary settings file,
// with a snapshot of the file's keys for comparing what a handler wrote.
#include "tests/dialog/fake_view.h"
#include "tests/support/settings_keys.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <memory>

namespace lumidex::test {

class DialogFixture {
public:
    // A dialog over a settings file that holds `ini` (no file when empty).
    void Start(const std::string& ini = {}) {
        dialog_.reset();
        dir_ = std::make_unique<TempDir>();
        if (!ini.empty()) {
            WriteFileOrFail(config(), ini);
        }
        Reopen();
    }

    // A new dialog over the same settings file, as after a restart.
    void Reopen() {
        dialog_.reset();
        view_ = std::make_unique<FakeView>();
        dialog_ = std::make_unique<dialog::CNumiconDlg>(
            *view_, dialog::CNumiconDlg::Environment{config(), [this] { return ports_; },
                                                     dir_->path() / "Help.doc", "lumidex", place_});
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
    SettingsPlace place_ = SettingsPlace::BesideProgram;

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<FakeView> view_;
    std::unique_ptr<dialog::CNumiconDlg> dialog_;
    std::unique_ptr<Operator> operator_;
};

} // namespace lumidex::test
