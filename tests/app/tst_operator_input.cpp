#include "tests/app/dialog_test_base.h"
#include "tests/support/pty_pair.h"

#include <QClipboard>
#include <thread>

// Operator input: every control stores its value, the line editors check
// each keystroke, digit counts and places per line or unified, and the
// command buttons.
class tst_OperatorInput : public DialogTestBase {
    Q_OBJECT

    // Performs one operator action on the dialog.
    using Action = std::function<void(tst_OperatorInput&)>;
    static Action Clicking(int id) {
        return [id](tst_OperatorInput& t) { t.Click(id); };
    }
    static Action Typing(int id, QString text) {
        return [id, text](tst_OperatorInput& t) {
            t.FocusOn(t.Control(id));
            // A refresh shows a text from its start; the operator types after it.
            QTest::keyClick(t.Control(id), Qt::Key_End);
            QTest::keyClicks(t.Control(id), text);
        };
    }
    static Action Choosing(int id, int index) {
        // As the list's drop-down does: the choice, then the notification.
        return [id, index](tst_OperatorInput& t) {
            auto* list = t.Control<QComboBox>(id);
            t.FocusOn(list);
            list->setCurrentIndex(index);
            emit list->activated(index);
        };
    }
    static Action Leaving(int id) {
        return [id](tst_OperatorInput& t) {
            t.FocusOn(t.Control(id));
            t.FocusOn(t.Control(1005));
        };
    }

private slots:
    void initTestCase() { QuietSizeHints(); }
    void eachHandlerWritesExactlyItsKeys_data();
    void eachHandlerWritesExactlyItsKeys();
    void lineCheckBoxEnablesItsEditor();
    void longCaptionIsStoredWholeAndReadBackCut();
    void sliderWritesOnlyAChangedPosition();
    void addressFieldStoresTheSignedValue();
    void typingIntoALineEditor_data();
    void typingIntoALineEditor();
    void clipboardShortcutsDoNothingButAPasteIsFormatted();
    void placesCheckPerLine_data();
    void placesCheckPerLine();
    void unifiedPlacesCheck();
    void switchingToUnifiedAndBack();
    void commandButtonsSendTheirFrames();
    void initializeAnsweredNoSendsNothing();
    void serialSendUsesTheStoredBaud();
};

void tst_OperatorInput::eachHandlerWritesExactlyItsKeys_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("written");
    QTest::newRow("line 3 box cleared") << "" << Clicking(1002) << "Text/Text3=No";
    QTest::newRow("line 6 box set") << "[Text]\r\nText6=No\r\n"
                                    << Clicking(1035) << "Text/Text6=Yes";
    QTest::newRow("flicker line 1") << "" << Clicking(1058) << "Set/FCC1=1";
    QTest::newRow("flicker line 6 cleared") << "[Set]\r\nFCC6=1\r\n"
                                            << Clicking(1066) << "Set/FCC6=0";
    QTest::newRow("9/10 line 5") << "" << Clicking(1083) << "Set/PLL5=1";
    QTest::newRow("9/10 line 6") << "" << Clicking(1084) << "Set/PLL6=1";
    QTest::newRow("unified flicker")
        << "[Set]\r\nSet=2\r\n"
        << Clicking(1069)
        << "Set/FCC=1, Set/FCC1=1, Set/FCC2=1, Set/FCC3=1, Set/FCC4=1, Set/FCC5=1, Set/FCC6=1";
    QTest::newRow("unified 9/10")
        << "[Set]\r\nSet=2\r\n"
        << Clicking(1085)
        << "Set/PLL=1, Set/PLL1=1, Set/PLL2=1, Set/PLL3=1, Set/PLL4=1, Set/PLL5=1, Set/PLL6=1";
    QTest::newRow("caption") << "" << Typing(1042, "Rejects") << "TextBT/TB2=Rejects";
    QTest::newRow("bus address, three digits") << "" << Typing(1056, "7") << "Set/ADD485=017";
    QTest::newRow("bus address refuses letters") << "" << Typing(1056, "x") << "";
    QTest::newRow("baud chosen") << "" << Choosing(1057, 1) << "Port/Boud=57600";
    QTest::newRow("port chosen") << "" << Choosing(1039, 1) << "Port/Port=/dev/ttyS10";
    // A list without a choice keeps the stored port rather than blanking it.
    QTest::newRow("port list left without a choice") << "" << Leaving(1039) << "";
    QTest::newRow("pseudo-terminal port list left")
        << "[Port]\r\nPort=/dev/pts/4\r\n" << Leaving(1039) << "";
    QTest::newRow("update time left") << "" << Leaving(1061) << "Set/UIN=Now";
    QTest::newRow("update time chosen is stored on leaving")
        << "" << Action([](tst_OperatorInput& t) {
               Choosing(1061, 24)(t);
               t.FocusOn(t.Control(1005));
           })
        << "Set/UIN=00:00";
    QTest::newRow("digit count 1 left") << "" << Action([](tst_OperatorInput& t) {
        Choosing(1010, 5)(t);
        t.FocusOn(t.Control(1005));
    }) << "Set/wsv1=8";
    QTest::newRow("places 6 left") << "[Set]\r\nwsv22=5\r\n"
                                   << Action([](tst_OperatorInput& t) {
                                          Choosing(1048, 4)(t);
                                          t.FocusOn(t.Control(1005));
                                      })
                                   << "Set/wsv23=3";
    QTest::newRow("separate set") << "[Set]\r\nSet=2\r\n" << Clicking(1024) << "Set/Set=1";
}

void tst_OperatorInput::eachHandlerWritesExactlyItsKeys() {
    QFETCH(QString, ini);
    QFETCH(Action, action);
    QFETCH(QString, written);
    Start(ini.toStdString());
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    const Keys before = ReadKeys(config());
    action(*this);
    QCOMPARE(Dump(Changed(before, ReadKeys(config()))), written);
    QVERIFY(boxes_->shown.isEmpty());
}

void tst_OperatorInput::lineCheckBoxEnablesItsEditor() {
    Start("[TextData]\r\nTD3=42\r\n");
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    Click(1002);
    QVERIFY(!Control(1007)->isEnabled());
    QCOMPARE(Control<QLineEdit>(1007)->text(), "42");
    QCOMPARE(Stored(lumidex::keys::kLineText[2]), "42");
    Click(1002);
    QVERIFY(Control(1007)->isEnabled());
    // The unified flicker box shows on every line after its refresh.
    Click(1025);
    Click(1069);
    Click(1024);
    for (int id : {1058, 1062, 1063, 1064, 1065, 1066}) {
        QVERIFY(Control<QCheckBox>(id)->isChecked());
    }
}

void tst_OperatorInput::longCaptionIsStoredWholeAndReadBackCut() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    const QString caption(40, QChar('w'));
    FocusOn(Control(1040));
    QTest::keyClicks(Control(1040), caption);
    QCOMPARE(QString::fromStdString(ReadKeys(config())["TextBT/TB1"]), caption);
    Click(1050);
    QCOMPARE(Control<QLineEdit>(1040)->text(), QString(29, QChar('w')));
}

void tst_OperatorInput::sliderWritesOnlyAChangedPosition() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    auto* day = Control<QSlider>(1038);
    auto release = [&] { QTest::mouseRelease(day, Qt::LeftButton, {}, QPoint(2, 2)); };
    // No key yet: the first release writes even the shown 5.
    release();
    QCOMPARE(ReadKeys(config())["LD/LD"], "5");
    const Keys before = ReadKeys(config());
    release();
    QCOMPARE(Dump(Changed(before, ReadKeys(config()))), QString());
    // A change from the keyboard is written at the next release.
    FocusOn(day);
    QTest::keyClick(day, Qt::Key_Right);
    QCOMPARE(ReadKeys(config())["LD/LD"], "5");
    release();
    QCOMPARE(ReadKeys(config())["LD/LD"], "6");
    QVERIFY(ReadKeys(config()).count("LD/LD2") == 0);
}

void tst_OperatorInput::addressFieldStoresTheSignedValue() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    auto* address = Control<IpAddressField>(1034);
    const QString fields[] = {"192", "168", "1", "100"};
    for (int i = 0; i < 4; ++i) {
        QLineEdit* field = address->field(i);
        FocusOn(field);
        field->selectAll();
        QTest::keyClicks(field, fields[i]);
    }
    FocusOn(Control(1005));
    QCOMPARE(ReadKeys(config())["Set/LEDIP"], "-1062731420");
    QCOMPARE(Control<QLabel>(1052)->text(), "IP：  192.168.1.100");
    QCOMPARE(dialog_->behaviour().controller_address(), std::string("192.168.1.100"));
}

void tst_OperatorInput::typingIntoALineEditor_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("3 digits free point") << ""
                                         << "1234"
                                         << "123";
    QTest::newRow("point first refused") << ""
                                         << ".12"
                                         << "12";
    QTest::newRow("second point refused") << ""
                                          << "1.2.3"
                                          << "1.23";
    QTest::newRow("5 digits 2 places") << "[Set]\r\nwsv1=5\r\nwsv6=2\r\n"
                                       << "1234.567"
                                       << "123.56";
    QTest::newRow("0 places drops points") << "[Set]\r\nwsv1=4\r\nwsv6=0\r\n"
                                           << "1.2345"
                                           << "1234";
    QTest::newRow("letters dropped") << "[Set]\r\nwsv1=8\r\n"
                                     << "a1b2-3+ 4"
                                     << "1234";
}

void tst_OperatorInput::typingIntoALineEditor() {
    QFETCH(QString, ini);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Start(ini.toStdString());
    auto* editor = Control<QLineEdit>(1005);
    FocusOn(editor);
    QTest::keyClicks(editor, typed);
    QCOMPARE(editor->text(), shown);
    // Ctrl+A selects all; the next digit replaces everything.
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(editor->selectedText(), shown);
    QTest::keyClick(editor, Qt::Key_7);
    QCOMPARE(editor->text(), "7");
    // The editor follows the stored keys at once, not what a list shows.
    lumidex::WriteSetting(config(), "Set", "wsv1", "8");
    lumidex::WriteSetting(config(), "Set", "wsv6", "No");
    QTest::keyClicks(editor, "1234567");
    QCOMPARE(editor->text(), "71234567");
}

void tst_OperatorInput::clipboardShortcutsDoNothingButAPasteIsFormatted() {
    Start("[Set]\r\nwsv1=4\r\nwsv6=1\r\n[TextData]\r\nTD1=12\r\n");
    auto* editor = Control<QLineEdit>(1005);
    FocusOn(editor);
    QApplication::clipboard()->setText("98765.4321");
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->text(), "12");
    // The context menu's paste goes in unchecked and is formatted on leaving.
    editor->selectAll();
    editor->paste();
    QCOMPARE(editor->text(), "98765.4321");
    FocusOn(Control(1006));
    QCOMPARE(editor->text(), "765.4");
    QCOMPARE(Stored(lumidex::keys::kLineText[0]), "765.4");
}

void tst_OperatorInput::placesCheckPerLine_data() {
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("shows");
    // Line 1 stands at 3 digits and 1 place.
    QTest::newRow("3 places on 3 digits refused") << 1015 << 4 << false << ""
                                                  << "0";
    QTest::newRow("4 places on 3 digits refused") << 1015 << 5 << false << ""
                                                  << "0";
    QTest::newRow("2 places on 3 digits accepted") << 1015 << 3 << true << "Set/wsv6=2"
                                                   << "2";
    QTest::newRow("No accepted") << 1015 << 0 << true << "Set/wsv6=No"
                                 << "No";
    QTest::newRow("4 digits accepted") << 1010 << 1 << true << "Set/wsv1=4"
                                       << "4";
}

void tst_OperatorInput::placesCheckPerLine() {
    QFETCH(int, list);
    QFETCH(int, index);
    QFETCH(bool, accepted);
    QFETCH(QString, written);
    QFETCH(QString, shows);
    Start("[Set]\r\nwsv1=3\r\nwsv6=1\r\n[TextData]\r\nTD1=12.5\r\n");
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    const Keys before = ReadKeys(config());
    Choosing(list, index)(*this);
    FocusOn(Control(1005));
    const Keys changed = Changed(before, ReadKeys(config()));
    Keys format_keys;
    for (const auto& [key, value] : changed) {
        if (key != "TextData/TD1") {
            format_keys[key] = value;
        }
    }
    QCOMPARE(Dump(format_keys), written);
    QCOMPARE(Control<QComboBox>(list)->currentText(), shows);
    if (accepted) {
        QVERIFY(boxes_->shown.isEmpty());
    } else {
        QCOMPARE(boxes_->Texts(), QStringList{"Please note that the display Places must be larger "
                                              "than the decimal Places！"});
        QCOMPARE(boxes_->shown[0].caption, kTitle);
        QCOMPARE(boxes_->shown[0].owner, nullptr);
        // Re-formatted with what the lists now show: 3 digits, 0 places.
        QCOMPARE(Control<QLineEdit>(1005)->text(), "13");
    }
}

void tst_OperatorInput::unifiedPlacesCheck() {
    Start("[Set]\r\nSet=2\r\nsetsws=5\r\nsetsss=4\r\nwsv1=5\r\nwsv6=4\r\n[TextData]\r\nTD1=1."
          "23456\r\n");
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    const Keys before = ReadKeys(config());
    Choosing(1026, 0)(*this); // 3 digits with 4 places
    QCOMPARE(boxes_->Texts().size(), 1);
    QCOMPARE(Control<QComboBox>(1026)->currentText(), "8");
    // No format key is written; the six lines are re-formatted (and stored).
    Keys changed = Changed(before, ReadKeys(config()));
    std::erase_if(changed, [](const auto& entry) { return entry.first.starts_with("TextData/"); });
    QCOMPARE(Dump(changed), QString());
    QCOMPARE(Control<QLineEdit>(1005)->text(), "1.2346"); // with the unchanged 5 digits, 4 places

    Choosing(1027, 3)(*this); // 2 places with 8 digits shown: accepted
    QCOMPARE(boxes_->Texts().size(), 1);
    QCOMPARE(Stored(lumidex::keys::kUnifiedDigitCount), "8");
    QCOMPARE(Stored(lumidex::keys::kUnifiedDecimalPlaces), "2");
    for (int line = 0; line < 6; ++line) {
        QCOMPARE(Stored(lumidex::keys::kDigitCount[line]), "8");
        QCOMPARE(Stored(lumidex::keys::kDecimalPlaces[line]), "2");
    }
    QCOMPARE(Control<QComboBox>(1041)->currentText(), "8");
    QCOMPARE(Control<QLineEdit>(1005)->text(), "1.23");
}

void tst_OperatorInput::switchingToUnifiedAndBack() {
    Start("[Set]\r\nwsv1=4\r\nwsv6=1\r\nwsv22=7\r\nFCC3=1\r\nsetsws=5\r\nsetsss=2\r\n"
          "[TextData]\r\nTD1=3.14159\r\n");
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    Click(1025);
    QCOMPARE(Stored(lumidex::keys::kMode), "2");
    QVERIFY(Control(1026)->isEnabled());
    QVERIFY(!Control(1010)->isEnabled());
    for (int line = 0; line < 6; ++line) {
        QCOMPARE(Stored(lumidex::keys::kDigitCount[line]), "5");
        QCOMPARE(Stored(lumidex::keys::kDecimalPlaces[line]), "2");
        QCOMPARE(Stored(lumidex::keys::kFlicker[line]), "0");
        QCOMPARE(Stored(lumidex::keys::kPoint[line]), "0");
    }
    // Clicking "Settings" had formatted it with 4 digits and 1 place: 3.1.
    QCOMPARE(Control<QLineEdit>(1005)->text(), "3.10");
    Click(1024);
    QCOMPARE(Stored(lumidex::keys::kMode), "1");
    QVERIFY(Control(1010)->isEnabled());
    QVERIFY(!Control(1027)->isEnabled());
    QCOMPARE(Control<QComboBox>(1041)->currentText(), "5");
    QCOMPARE(Control<QComboBox>(1048)->currentText(), "2");
    QVERIFY(!Control<QCheckBox>(1063)->isChecked());
}

void tst_OperatorInput::commandButtonsSendTheirFrames() {
    lumidex::test::PtyPair pty;
    const auto ip = lumidex::ParseDottedAddress(kController);
    Start("[Set]\r\nADD485=01\r\nLEDIP=" + std::to_string(lumidex::StoredAddressValue(*ip)) +
          "\r\n[Port]\r\nPort=" + pty.device() + "\r\nBoud=57600\r\n[LD]\r\nLD=7\r\nLD2=0\r\n");
    UdpPeer controller(kController, 10006, [](const UdpPeer::Bytes&, int) {
        return lumidex::test::ReplyWithStatus(1);
    });
    struct Command {
        int button;
        const char* frame;
        int baud_after;
    };
    const Command commands[] = {
        {1054, "FE 07 01 02 07 00 FF 09 08", 9600}, // brightness at the start-up rate
        {1022, "FE 0D 01 03 14 18 06 0F 0E 1E 00 06 FF 66 48", 9600},
        {1036, "FE 05 00 CC FF 01 72", 57600}, // the initialise reads "Boud"
    };
    boxes_->answers = {MessageBoxes::Answer::Yes};
    for (const Command& command : commands) {
        std::vector<std::uint8_t> serial;
        std::thread serial_controller([&] {
            serial = pty.ReadFrame(std::chrono::seconds(5));
            pty.Write(lumidex::test::ReplyWithStatus(1));
        });
        const auto datagrams = controller.received().size();
        OpenPanel();
        Click(command.button);
        serial_controller.join();
        QCOMPARE(QString::fromStdString(lumidex::FormatHex(serial)), command.frame);
        const auto received = controller.received();
        QCOMPARE(received.size(), datagrams + 1);
        QCOMPARE(QString::fromStdString(lumidex::FormatHex(received.back().bytes)), command.frame);
        QCOMPARE(dialog_->current_baud(), command.baud_after);
        Click(1050);
    }
    // Only the initialise asks, and nothing reports a result.
    QCOMPARE(boxes_->Texts(), QStringList{"Initialize control card"});
    QCOMPARE(boxes_->shown[0].buttons, MessageBoxes::Buttons::YesNo);
    QCOMPARE(boxes_->shown[0].icon, MessageBoxes::Icon::Warning);
}

void tst_OperatorInput::initializeAnsweredNoSendsNothing() {
    lumidex::test::PtyPair pty;
    const auto ip = lumidex::ParseDottedAddress(kController);
    Start("[Set]\r\nLEDIP=" + std::to_string(lumidex::StoredAddressValue(*ip)) +
          "\r\n[Port]\r\nPort=" + pty.device() + "\r\nBoud=57600\r\n");
    UdpPeer controller(kController, 10006, [](const UdpPeer::Bytes&, int) {
        return lumidex::test::ReplyWithStatus(1);
    });
    OpenPanel();
    boxes_->answers = {MessageBoxes::Answer::No};
    Click(1036);
    QCOMPARE(boxes_->Texts(), QStringList{"Initialize control card"});
    QVERIFY(pty.ReadFrame(std::chrono::milliseconds(300)).empty());
    QVERIFY(controller.received().empty());
    QCOMPARE(dialog_->current_baud(), 9600);
}

void tst_OperatorInput::serialSendUsesTheStoredBaud() {
    lumidex::test::PtyPair pty;
    Start("[Set]\r\nwsv1=4\r\n[Port]\r\nPort=" + pty.device() +
          "\r\nBoud=57600\r\n[Text]\r\n"
          "Text2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n[TextData]\r\nTD1=12.5\r\n");
    std::vector<std::uint8_t> frame;
    std::thread serial_controller([&] {
        frame = pty.ReadFrame(std::chrono::seconds(5));
        pty.Write(lumidex::test::ReplyWithStatus(1));
    });
    Click(1021);
    serial_controller.join();
    QCOMPARE(boxes_->Texts(), QStringList{"Sent successfully!"});
    QCOMPARE(QString::fromStdString(lumidex::FormatHex(frame)).left(26),
             "FE 0E 01 AB 01 01 FA 00 14");
    QCOMPARE(dialog_->current_baud(), 57600);
}

QTEST_MAIN(tst_OperatorInput)
#include "tst_operator_input.moc"
