#include "gui/qt/app_globals.h"
#include "gui/qt/dialog_units.h"
#include "gui/qt/help_opener.h"
#include "gui/qt/numicon_window.h"
#include "gui/qt/password.h"
#include "gui/qt/single_instance.h"
#include "lines/line_format.h"
#include "link/address.h"
#include "protocol/frame.h"
#include "settings/profile.h"
#include "tests/app/dialog_test_base.h"
#include "tests/support/addresses.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_peer.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <map>
#include <memory>
#include <unistd.h>

class tst_CNumiconDlg : public DialogTestBase {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstStartShowsTheDefaults();
    void refreshRunsNoHandler();
    void enterWalksTheRingsAndEscapeDoesNothing();
    void enterInOtherControlsDoesNothing();
    void settingsPanelSlidesOpenAndSnapsShut();
    void passwordDialogHandsOnEachTry();
    void passwordEscapeEndsQuietly();
    void exitQuestion();
    void onlyTheTwelveEditorsAreTabStops();
    void dropDownIsNoLeave();
    void helpOpensTheDocumentBesideTheProgram();
    void helpFallsBackToTheHtmlCopy_data();
    void helpFallsBackToTheHtmlCopy();
    void lineEditorsFormatOnFocusLoss_data();
    void lineEditorsFormatOnFocusLoss();
    void sendNormalisesTheFocusedLineFirst();
    void listWithoutAChoiceKeepsThePort_data();
    void listWithoutAChoiceKeepsThePort();
    void readOnlyFolderIsToldOnce();
    void secondCopyBringsTheFirstForward();
    void nameOfAnotherUserKeepsNoCopyFromStarting();
};

void tst_CNumiconDlg::initTestCase() {
    QuietSizeHints();
}

void tst_CNumiconDlg::firstStartShowsTheDefaults() {
    NumiconWindow& dialog = Start();
    QCOMPARE(dialog.width(), 290);
    QCOMPARE(dialog.height(), 620);
    QCOMPARE(dialog.windowTitle(), kTitle);
    for (std::size_t line = 0; line < 6; ++line) {
        QVERIFY(Control<QCheckBox>(kChosenBoxes[line])->isChecked());
        QVERIFY(Control(kLineEditors[line])->isEnabled());
        QCOMPARE(Control<QLineEdit>(kLineEditors[line])->text(), QString());
        QCOMPARE(Control<QComboBox>(kDigitCountLists[line])->currentText(), "3");
        QCOMPARE(Control<QComboBox>(kPlacesLists[line])->currentText(), "No");
        QVERIFY(!Control<QCheckBox>(kFlickerBoxes[line])->isChecked());
        QVERIFY(!Control<QCheckBox>(kPointBoxes[line])->isChecked());
    }
    QCOMPARE(Control<QComboBox>(kUpdateList)->currentText(), "Now");
    QCOMPARE(Control<QLineEdit>(kBusAddress)->text(), "01");
    QCOMPARE(Control<IpAddressField>(kAddressField)->Address(), 0u);
    QCOMPARE(Control<QLabel>(kAddressLabel)->text(), "IP：  0.0.0.0");
    QCOMPARE(Control<QComboBox>(kPortList)->currentIndex(), -1);
    QCOMPARE(Control<QComboBox>(kBaudList)->currentText(), "9600");
    QCOMPARE(Control<QLabel>(kPortLabel)->text(), "Port:    Boud: 9600");
    QCOMPARE(Control<QSlider>(kDaySlider)->value(), 5);
    QCOMPARE(Control<QSlider>(kNightSlider)->value(), 5);
    QVERIFY(Control<QRadioButton>(kSeparateRadio)->isChecked());
    QVERIFY(!Control(kUnifiedDigitCount)->isEnabled());
    QVERIFY(Control(kDigitCountLists[0])->isEnabled());
    QVERIFY2(!Control(kCaptionEditors[0])->isEnabled(), "captions wait for the panel");
    QVERIFY(Control(kSettingsButton)->isEnabled());
    QCOMPARE(QApplication::focusWidget(), Control(kLineEditors[0]));
    QCOMPARE(lumidex::test::ReadFileOrFail(config()), "[Set]\r\nSet=1\r\n");
    QVERIFY(boxes_->shown.isEmpty());
    // Every control of the template is there under its id.
    for (int id :
         {kChosenBoxes[0],    kUdpButton,  kSerialButton,   kProofTimeButton,  kAddressField,
          kInitializeButton,  kHelpButton, kPortList,       kNightSlider,      kSettingsButton,
          kSaveAndExitButton, kPortLabel,  kAddressLabel,   kBrightnessButton, kBusAddress,
          kBaudList,          kUpdateList, kUnifiedFlicker, kPointBoxes[5],    kUnifiedPoint}) {
        QVERIFY2(dialog.findChild<QWidget*>(QString::number(id)), qPrintable(QString::number(id)));
    }
    QCOMPARE(Control<QComboBox>(kUpdateList)->count(), 25);
    QCOMPARE(Control<QComboBox>(kUpdateList)->itemText(24), "00:00");
}

void tst_CNumiconDlg::refreshRunsNoHandler() {
    NumiconWindow& dialog = Start("[Set]\r\nwsv1=5\r\nwsv6=2\r\n[TextData]\r\nTD1=1.5\r\n");
    // An editor with unformatted text has the focus; the refresh disables it.
    auto* editor = Control<QLineEdit>(kLineEditors[0]);
    FocusOn(editor);
    editor->setText("7");
    lumidex::WriteSetting(config(), "Text", "Text1", "No");
    lumidex::WriteSetting(config(), "Set", "UIN", "05:00");
    lumidex::WriteSetting(config(), "Port", "Boud", "57600");
    const Keys before = ReadKeys(config());
    dialog.RefreshFromSettings();
    QCoreApplication::processEvents();
    QCOMPARE(Dump(Changed(before, ReadKeys(config()))), QString());
    QVERIFY(!editor->isEnabled());
    QCOMPARE(editor->text(), "1.5");
    QCOMPARE(Control<QComboBox>(kUpdateList)->currentText(), "05:00");
    QCOMPARE(Control<QLabel>(kPortLabel)->text(), "Port:    Boud: 57600");
}

void tst_CNumiconDlg::enterWalksTheRingsAndEscapeDoesNothing() {
    Start("[TextData]\r\nTD1=11\r\nTD6=66\r\n[TextBT]\r\nTB1=first\r\n");
    const int editors[] = {kLineEditors[0], kLineEditors[1], kLineEditors[2], kLineEditors[3],
                           kLineEditors[4], kLineEditors[5], kLineEditors[0]};
    for (int i = 0; i < 6; ++i) {
        FocusOn(Control(editors[i]));
        QTest::keyClick(Control(editors[i]), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), Control(editors[i + 1]));
    }
    QCOMPARE(Control<QLineEdit>(kLineEditors[0])->selectedText(), "11"); // whole text selected
    QTest::keyClick(Control(kLineEditors[0]), Qt::Key_Escape);
    QVERIFY(dialog_->isVisible());
    QCOMPARE(QApplication::focusWidget(), Control(kLineEditors[0]));

    for (int id : {kCaptionEditors[0], kCaptionEditors[1], kCaptionEditors[2], kCaptionEditors[3],
                   kCaptionEditors[4], kCaptionEditors[5]}) {
        Control(id)->setEnabled(true);
    }
    FocusOn(Control(kCaptionEditors[5]));
    QTest::keyClick(Control(kCaptionEditors[5]), Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), Control(kCaptionEditors[0]));
    QCOMPARE(Control<QLineEdit>(kCaptionEditors[0])->selectedText(), "first");
    QVERIFY(boxes_->shown.isEmpty());
}

void tst_CNumiconDlg::enterInOtherControlsDoesNothing() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    for (int id : {kDigitCountLists[0], kChosenBoxes[0], kFlickerBoxes[0], kSeparateRadio,
                   kDaySlider, kBusAddress, kPortList, kUdpButton}) {
        QWidget* widget = Control(id);
        FocusOn(widget);
        const Keys before = ReadKeys(config());
        for (auto key : {Qt::Key_Return, Qt::Key_Escape}) {
            QTest::keyClick(widget, key);
            QCOMPARE(QApplication::focusWidget(), widget);
        }
        QVERIFY(dialog_->isVisible());
        QCOMPARE(Dump(Changed(before, ReadKeys(config()))), QString());
    }
    QLineEdit* field = Control<IpAddressField>(kAddressField)->field(1);
    FocusOn(field);
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(Control<QLineEdit>(kBusAddress)->text(), "01"); // no line break in the bus address
    QVERIFY(boxes_->shown.isEmpty());
}

void tst_CNumiconDlg::settingsPanelSlidesOpenAndSnapsShut() {
    NumiconWindow& dialog = Start();
    OpenPanel();
    QVERIFY(!Control(kSettingsButton)->isEnabled());
    QVERIFY(Control(kCaptionEditors[0])->isEnabled());
    QVERIFY(dialog.width() < 520);
    // It grows 10 pixels every 10 ms: never past 520, always a multiple of 10.
    QList<int> widths;
    QTRY_VERIFY_WITH_TIMEOUT((widths << dialog.width(), dialog.width() == 520), 5000);
    for (int width : widths) {
        QVERIFY(width >= 290 && width <= 520 && width % 10 == 0);
    }
    QTest::qWait(60);
    QCOMPARE(dialog.width(), 520);
    QCOMPARE(dialog_->behaviour().window_width(), 520);

    Click(kSaveAndExitButton); // Save & Exit
    QCOMPARE(dialog.width(), 290);
    QCOMPARE(dialog.height(), 620);
    QVERIFY(Control(kSettingsButton)->isEnabled());
    QVERIFY(!Control(kCaptionEditors[0])->isEnabled());
    QCOMPARE(dialog_->behaviour().window_width(), 290);

    // Open again: the slide starts over from 290.
    OpenPanel();
    QVERIFY(dialog.width() < 520);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.width(), 520, 5000);
}

// The password dialog hands each try to the behaviour: a wrong one is
// answered over the password dialog, whose edit is then empty and has the
// keyboard; the right one ends it and the panel opens.
void tst_CNumiconDlg::passwordDialogHandsOnEachTry() {
    NumiconWindow& dialog = Start();
    PassWord* password = nullptr;
    bool edit_was_empty = false;
    bool edit_had_focus = false;
    bool still_open = false;
    QTimer::singleShot(0, [&] {
        password = qobject_cast<PassWord*>(QApplication::activeModalWidget());
        QVERIFY(password);
        QTest::keyClicks(password->edit(), "V503");
        QTest::keyClick(password->edit(), Qt::Key_Return);
        still_open = QApplication::activeModalWidget() == password;
        edit_was_empty = password->edit()->text().isEmpty();
        edit_had_focus = password->focusWidget() == password->edit();
        QTest::keyClicks(password->edit(), "v503");
        QTest::keyClick(password->edit(), Qt::Key_Return);
    });
    Click(kSettingsButton);
    QVERIFY(still_open);
    QCOMPARE(boxes_->Texts(), QStringList{"Wrong password!"});
    QCOMPARE(boxes_->shown[0].owner, static_cast<QWidget*>(password));
    QCOMPARE(QString::fromStdString(boxes_->shown[0].box.caption), ApplicationName());
    QVERIFY(edit_was_empty);
    QVERIFY(edit_had_focus);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.width(), 520, 5000);
}

void tst_CNumiconDlg::passwordEscapeEndsQuietly() {
    NumiconWindow& dialog = Start();
    QTimer::singleShot(0, [] {
        auto* password = qobject_cast<PassWord*>(QApplication::activeModalWidget());
        QVERIFY(password);
        QTest::keyClicks(password->edit(), "v503");
        QTest::keyClick(password->edit(), Qt::Key_Escape);
    });
    Click(kSettingsButton);
    QTest::qWait(50);
    QCOMPARE(dialog.width(), 290);
    QVERIFY(Control(kSettingsButton)->isEnabled());
    QVERIFY(boxes_->shown.isEmpty());
    // The close button ends it the same way.
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    Click(kSettingsButton);
    QTest::qWait(50);
    QCOMPARE(dialog.width(), 290);
}

void tst_CNumiconDlg::exitQuestion() {
    NumiconWindow& dialog = Start("[TextData]\r\nTD1=123\r\n");
    Control<QLineEdit>(kLineEditors[0])->setText("45");
    boxes_->answers = {BoxAnswer::No};
    // The question takes the focus: the line being typed is stored first.
    std::string stored_while_asked;
    boxes_->while_shown = [&](const ScriptedMessageBoxes::Shown&) {
        stored_while_asked = Stored(lumidex::keys::kLineText[0]);
    };
    QVERIFY(!dialog.close());
    QCOMPARE(stored_while_asked, "45");
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.width(), 290);
    QCOMPARE(Control<QLineEdit>(kLineEditors[0])->text(), "45");
    QCOMPARE(boxes_->shown.size(), 1);
    QCOMPARE(boxes_->Texts(), QStringList{"Exit the program?"});
    QCOMPARE(boxes_->shown[0].owner, nullptr);
    QVERIFY(boxes_->shown[0].box.buttons == BoxButtons::YesNo);

    boxes_->answers = {BoxAnswer::Yes};
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
}

void tst_CNumiconDlg::onlyTheTwelveEditorsAreTabStops() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    QList<int> tab_stops;
    for (QWidget* widget = dialog_->nextInFocusChain(); widget != dialog_.get();
         widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() & Qt::TabFocus) {
            tab_stops << widget->objectName().toInt(); // 0: not a control of its own
        }
    }
    QCOMPARE(tab_stops, QList<int>({kLineEditors[0], kLineEditors[1], kLineEditors[2],
                                    kLineEditors[3], kLineEditors[4], kLineEditors[5],
                                    kCaptionEditors[0], kCaptionEditors[1], kCaptionEditors[2],
                                    kCaptionEditors[3], kCaptionEditors[4], kCaptionEditors[5]}));
    // Every other control takes the focus when clicked; labels and frames never.
    QStringList wrong;
    for (const lumidex::dialog::ControlSpec& entry : lumidex::dialog::MainDialogControls()) {
        if (entry.id == 0 || entry.kind == lumidex::dialog::ControlKind::Edit) {
            continue;
        }
        QWidget* widget = entry.kind == lumidex::dialog::ControlKind::Address
                              ? Control<IpAddressField>(entry.id)->field(0)
                              : Control(entry.id);
        const Qt::FocusPolicy expected =
            entry.kind == lumidex::dialog::ControlKind::Label ? Qt::NoFocus : Qt::ClickFocus;
        if (widget->focusPolicy() != expected) {
            wrong << QString("%1: %2").arg(entry.id).arg(widget->focusPolicy());
        }
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(", ")));

    // Shut, nothing of the panel can take the focus, and "Save & Exit"
    // that was clicked has handed it to the dialog.
    FocusOn(Control(kSaveAndExitButton));
    Click(kSaveAndExitButton);
    QCOMPARE(dialog_->width(), 290);
    QCOMPARE(dialog_->focusWidget(), dialog_.get());
    for (const lumidex::dialog::ControlSpec& entry : lumidex::dialog::MainDialogControls()) {
        if (entry.id != 0 && entry.x >= 192) {
            QWidget* widget = entry.kind == lumidex::dialog::ControlKind::Address
                                  ? Control<IpAddressField>(entry.id)->field(0)
                                  : Control(entry.id);
            QVERIFY2(widget->focusPolicy() == Qt::NoFocus, qPrintable(QString::number(entry.id)));
        }
    }
}

void tst_CNumiconDlg::dropDownIsNoLeave() {
    Start("[Set]\r\nUIN=05:00\r\n");
    auto* list = Control<QComboBox>(kUpdateList);
    FocusOn(list);
    list->setCurrentIndex(2); // what leaving would store
    const Keys before = ReadKeys(config());
    list->showPopup();
    QTRY_VERIFY(list->view()->isVisible());
    list->hidePopup();
    QTRY_VERIFY(!list->view()->isVisible());
    QCOMPARE(Dump(Changed(before, ReadKeys(config()))), QString());
    FocusOn(Control(kLineEditors[0]));
    QCOMPARE(Dump(Changed(before, ReadKeys(config()))), "Set/UIN=02:00");
}

void tst_CNumiconDlg::helpOpensTheDocumentBesideTheProgram() {
    opened_.clear();
    Start();
    Click(kHelpButton);
    QCOMPARE(opened_, QStringList{QCoreApplication::applicationDirPath() + "/Help.doc"});
}

void tst_CNumiconDlg::helpFallsBackToTheHtmlCopy_data() {
    QTest::addColumn<int>("docStatus");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a program opens .doc") << 0 << QStringList{"Help.doc"};
    QTest::newRow("nothing opens .doc") << 3 << QStringList{"Help.doc", "Help.html"};
    QTest::newRow("opening it failed") << 4 << QStringList{"Help.doc", "Help.html"};
}

// A stand-in for xdg-open records what it was asked to open and answers
// .doc files with the exit status of the row.
void tst_CNumiconDlg::helpFallsBackToTheHtmlCopy() {
    QFETCH(int, docStatus);
    QFETCH(QStringList, expected);
    lumidex::test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    const QString opener = folder + "/xdg-open";
    const QString log = folder + "/opened";
    QFile script(opener);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nbasename \"$1\" >>'%1'\n"
                                "case \"$1\" in *.doc) exit %2;; esac\n")
                     .arg(log)
                     .arg(docStatus)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QObject owner;
    OpenHelpDocument(folder + "/Help.doc", &owner, opener);
    const auto opened = [&log] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList();
    };
    QTRY_COMPARE(opened(), expected);
    // Nothing more is opened afterwards.
    QTest::qWait(200);
    QCOMPARE(opened(), expected);
}

void tst_CNumiconDlg::lineEditorsFormatOnFocusLoss_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("stored"); // "<none>" when nothing is written
    QTest::newRow("fixed 5/2") << "[Set]\r\nwsv1=5\r\nwsv6=2\r\n"
                               << "3.14159"
                               << "3.14"
                               << "3.14";
    QTest::newRow("fixed 3/1 cuts left") << "[Set]\r\nwsv6=1\r\n"
                                         << "12345"
                                         << "45.0"
                                         << "45.0";
    QTest::newRow("free cuts right") << ""
                                     << "12345"
                                     << "123"
                                     << "123";
    QTest::newRow("free trailing point") << ""
                                         << "12."
                                         << "12."
                                         << "12.";
    QTest::newRow("free empty is stored") << "[TextData]\r\nTD1=77\r\n"
                                          << ""
                                          << ""
                                          << "";
    QTest::newRow("fixed empty is not stored")
        << "[Set]\r\nwsv6=2\r\nwsv1=5\r\n[TextData]\r\nTD1=77\r\n"
        << ""
        << ""
        << "77";
    QTest::newRow("unified formats")
        << "[Set]\r\nSet=2\r\nsetsws=4\r\nsetsss=0\r\nwsv1=4\r\nwsv6=0\r\n"
        << "2.5"
        << "3"
        << "3";
    QTest::newRow("missing digit count choice") << "[Set]\r\nwsv1=9\r\nwsv6=2\r\n"
                                                << "3.14159"
                                                << "4"
                                                << "4";
}

void tst_CNumiconDlg::lineEditorsFormatOnFocusLoss() {
    QFETCH(QString, ini);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, stored);
    Start(ini.toStdString());
    auto* editor = Control<QLineEdit>(kLineEditors[0]);
    FocusOn(editor);
    editor->setText(typed); // as a paste would leave it
    FocusOn(Control(kLineEditors[1]));
    QCOMPARE(editor->text(), shown);
    QCOMPARE(QString::fromStdString(Stored(lumidex::keys::kLineText[0])), stored);
}

// Clicking "TCP/IP" takes the focus from the line editor, which formats
// and stores its text before the frame is built.
void tst_CNumiconDlg::sendNormalisesTheFocusedLineFirst() {
    const auto ip = lumidex::ParseDottedAddress(kController);
    Start("[Set]\r\nwsv1=4\r\nwsv6=2\r\nLEDIP=" + std::to_string(lumidex::StoredAddressValue(*ip)) +
          "\r\n[Text]\r\nText2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n");
    UdpPeer controller(kController, 10006, [](const UdpPeer::Bytes&, int) {
        return lumidex::test::ReplyWithStatus(1);
    });
    auto* editor = Control<QLineEdit>(kLineEditors[0]);
    FocusOn(editor);
    QTest::keyClicks(editor, "12.5");
    Click(kUdpButton);
    QCOMPARE(editor->text(), "12.50");
    QCOMPARE(Stored(lumidex::keys::kLineText[0]), "12.50");
    QCOMPARE(boxes_->Texts(), QStringList{"Sent successfully!"});
    const auto received = controller.received();
    QCOMPARE(received.size(), 1u);
    const std::vector<std::uint8_t> block(received[0].bytes.begin() + 6,
                                          received[0].bytes.end() - 3);
    QCOMPARE(QString::fromStdString(lumidex::FormatHex(block)), "FA 00 14 01 13 05 00");
}

void tst_CNumiconDlg::readOnlyFolderIsToldOnce() {
    dialog_.reset();
    dir_ = std::make_unique<TempDir>();
    boxes_ = std::make_unique<ScriptedMessageBoxes>();
    // A folder below a file can never be written, not even by root.
    lumidex::test::WriteFileOrFail(dir_->path() / "file", "x");
    NumiconWindow::Environment environment;
    environment.settings_path = dir_->path() / "file" / "Config.ini";
    environment.boxes = boxes_.get();
    environment.port_lister = [] {
        return std::optional<std::vector<std::string>>(std::vector<std::string>{});
    };
    environment.local_time = [] { return lumidex::ClockTime{}; };
    dialog_ = std::make_unique<NumiconWindow>(environment);
    QCOMPARE(boxes_->shown.size(), 1);
    QVERIFY(boxes_->Texts()[0].startsWith("Settings cannot be saved"));
    // It works on with the defaults.
    QCOMPARE(Control<QComboBox>(kBaudList)->currentText(), "9600");
    QCOMPARE(Control<QSlider>(kDaySlider)->value(), 5);
}

void tst_CNumiconDlg::secondCopyBringsTheFirstForward() {
    NumiconWindow& dialog = Start();
    const QString name = SingleInstanceGuard::NameFor(
        "Lumidex_1.0-test-" + QString::number(QCoreApplication::applicationPid()));
    QCOMPARE(name, name.toCaseFolded());
    SingleInstanceGuard first(name);
    QVERIFY(first.Claim());
    int raised = 0;
    connect(&first, &SingleInstanceGuard::raiseRequested, [&] {
        ++raised;
        BringForward(&dialog);
    });
    dialog.showMinimized();
    QVERIFY(dialog.isMinimized());
    SingleInstanceGuard second(name);
    QVERIFY(!second.Claim());
    QTRY_COMPARE(raised, 1);
    QVERIFY(!dialog.isMinimized());
    QVERIFY(dialog.isVisible());
}

void tst_CNumiconDlg::listWithoutAChoiceKeepsThePort_data() {
    QTest::addColumn<int>("id");
    // A pseudo-terminal is never in the port list, nor is a port that went
    // away; a baud rate the list does not offer shows no choice either.
    QTest::newRow("pseudo-terminal") << kPortList;
    QTest::newRow("unlisted baud rate") << kBaudList;
}

void tst_CNumiconDlg::listWithoutAChoiceKeepsThePort() {
    QFETCH(int, id);
    Start("[Port]\r\nPort=/dev/pts/7\r\nBoud=12345\r\n");
    OpenPanel();
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->width() == 520, 5000);
    auto* list = Control<QComboBox>(id);
    QCOMPARE(list->currentIndex(), -1);
    const Keys before = ReadKeys(config());
    // Click the list, Escape, click elsewhere.
    FocusOn(list);
    list->showPopup();
    QTRY_VERIFY(list->view()->isVisible());
    QTest::keyClick(list->view(), Qt::Key_Escape);
    QTRY_VERIFY(!list->view()->isVisible());
    FocusOn(Control(kLineEditors[0]));
    QCOMPARE(Dump(Changed(before, ReadKeys(config()))), QString());
    QCOMPARE(QString::fromStdString(Stored(lumidex::keys::kSerialPort)), "/dev/pts/7");
    QCOMPARE(QString::fromStdString(Stored(lumidex::keys::kBaudRate)), "12345");
    QCOMPARE(Control<QLabel>(kPortLabel)->toolTip(), "/dev/pts/7");

    // A choice made in the list is still stored on leaving.
    FocusOn(list);
    list->setCurrentIndex(0);
    FocusOn(Control(kLineEditors[0]));
    QCOMPARE(QString::fromStdString(
                 Stored(id == kPortList ? lumidex::keys::kSerialPort : lumidex::keys::kBaudRate)),
             list->itemText(0));
}

// A local socket planted under the guard's name in the shared temporary
// folder, or a fallback folder that others may enter, never keeps the
// dialog from starting.
void tst_CNumiconDlg::nameOfAnotherUserKeepsNoCopyFromStarting() {
    const TempDir temporary;
    const QByteArray saved_tmpdir = qgetenv("TMPDIR");
    const QByteArray saved_runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QByteArray::fromStdString(temporary.path().string()));
    qunsetenv("XDG_RUNTIME_DIR");
    const QString name = SingleInstanceGuard::NameFor(
        "Lumidex_1.0-planted-" + QString::number(QCoreApplication::applicationPid()));
    QLocalServer planted;
    QVERIFY(
        planted.listen(QString::fromStdString((temporary.path() / name.toStdString()).string())));
    {
        SingleInstanceGuard first(name);
        QVERIFY(first.Claim());
        SingleInstanceGuard second(name);
        QVERIFY2(!second.Claim(), "a copy of this user's own is still found");
    }
    const auto folder = temporary.path() / ("lumidex-" + std::to_string(::getuid()));
    QVERIFY(std::filesystem::is_directory(folder));
    QCOMPARE(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    SingleInstanceGuard open_folder(name);
    QVERIFY(open_folder.Claim());
    QVERIFY(!std::filesystem::exists(folder / name.toStdString()));
    for (const auto& [variable, value] :
         {std::pair{"TMPDIR", saved_tmpdir}, std::pair{"XDG_RUNTIME_DIR", saved_runtime}}) {
        if (value.isEmpty()) {
            qunsetenv(variable);
        } else {
            qputenv(variable, value);
        }
    }
}

QTEST_MAIN(tst_CNumiconDlg)
#include "tst_numicon_dlg.moc"
