#pragma once

// A main dialog over a temporary settings file, a scripted message box and
// fixed ports and clock, with helpers the dialog tests share.
#include "dialog/control_ids.h"
#include "gui/qt/app_globals.h"
#include "gui/qt/controls.h"
#include "gui/qt/numicon_window.h"
#include "gui/qt/password.h"
#include "lines/line_format.h"
#include "link/address.h"
#include "protocol/frame.h"
#include "settings/profile.h"
#include "tests/app/scripted_boxes.h"
#include "tests/support/addresses.h"
#include "tests/support/settings_keys.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_peer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <map>
#include <memory>

using lumidex::test::TempDir;
using lumidex::test::UdpPeer;
using lumidex::test::Keys;

namespace dialog_test {

inline const QString kTitle = "Lumidex_1.0";
// Each dialog suite has its own controller address (see addresses.h).
inline constexpr const char* kController = lumidex::test::LUMIDEX_APP_SUITE_CONTROLLER;

using lumidex::test::ReadKeys;

// The keys that differ between two snapshots, with their new values.
inline Keys Changed(const Keys& before, const Keys& after) {
    Keys changed;
    for (const auto& [key, value] : after) {
        const auto old = before.find(key);
        if (old == before.end() || old->second != value) {
            changed[key] = value;
        }
    }
    return changed;
}

inline QString Dump(const Keys& keys) {
    QStringList parts;
    for (const auto& [key, value] : keys) {
        parts << QString::fromStdString(key + "=" + value);
    }
    return parts.join(", ");
}

} // namespace dialog_test
using namespace dialog_test;
using namespace lumidex::dialog;

class DialogTestBase : public QObject {
protected:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ScriptedMessageBoxes> boxes_;
    std::unique_ptr<NumiconWindow> dialog_;
    std::optional<std::vector<std::string>> ports_{{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyS1"}};
    QStringList opened_;

    std::filesystem::path config() const { return dir_->path() / "Config.ini"; }

    // A dialog over a settings file that holds `ini` (no file when empty).
    NumiconWindow& Start(const std::string& ini = {}) {
        dialog_.reset();
        dir_ = std::make_unique<TempDir>();
        boxes_ = std::make_unique<ScriptedMessageBoxes>();
        if (!ini.empty()) {
            lumidex::test::WriteFileOrFail(config(), ini);
        }
        NumiconWindow::Environment environment;
        environment.settings_path = config();
        environment.boxes = boxes_.get();
        environment.port_lister = [this] { return ports_; };
        environment.open_document = [this](const QString& path) { opened_ << path; };
        environment.local_time = [] { return lumidex::ClockTime{2024, 6, 15, 14, 30, 0, 6}; };
        dialog_ = std::make_unique<NumiconWindow>(environment);
        dialog_->show();
        dialog_->activateWindow();
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(dialog_.get());
        return *dialog_;
    }

    template <typename T = QWidget> T* Control(int id) const {
        T* widget = dialog_->control<T>(id);
        if (widget == nullptr) {
            qFatal("no control %d", id);
        }
        return widget;
    }

    std::string Stored(const lumidex::SettingKey& key) const {
        return dialog_->settings().Read(key);
    }

    void Click(int id) { QTest::mouseClick(Control(id), Qt::LeftButton); }

    // Gives a control the focus the way a click would.
    void FocusOn(QWidget* widget) {
        if (!dialog_->isActiveWindow()) {
            dialog_->activateWindow();
            [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(dialog_.get());
        }
        widget->setFocus(Qt::MouseFocusReason);
        QCoreApplication::processEvents();
    }

    // Runs the password dialog from "Settings" and types into it.
    void OpenPanel(const QString& password = "v503") {
        QTimer::singleShot(0, [password] {
            auto* dialog = qobject_cast<PassWord*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTest::keyClicks(dialog->edit(), password);
            QTest::keyClick(dialog->edit(), Qt::Key_Return);
            if (QApplication::activeModalWidget() == dialog) {
                QTest::keyClick(dialog->edit(), Qt::Key_Escape);
            }
        });
        Click(1049);
    }

    // The offscreen platform cannot pass a fixed window size on to a window
    // manager and says so at every step of the slide.
    static void QuietSizeHints() {
        static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.contains("propagateSizeHints")) {
                    previous(type, context, text);
                }
            });
    }
};
