#include "tests/app/dialog_test_base.h"

#include <QClipboard>

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
            t.FocusOn(t.Control(kLineEditors[0]));
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
};

void tst_OperatorInput::eachHandlerWritesExactlyItsKeys_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("written");
    // How the widgets report operator input; what each handler writes is
    // checked against the behaviour itself in tests/dialog.
    QTest::newRow("flicker line 1") << "" << Clicking(kFlickerBoxes[0]) << "Set/FCC1=1";
    QTest::newRow("baud chosen") << "" << Choosing(kBaudList, 1) << "Port/Boud=57600";
    QTest::newRow("caption") << "" << Typing(kCaptionEditors[1], "Rejects") << "TextBT/TB2=Rejects";
    QTest::newRow("bus address, three digits")
        << "" << Typing(kBusAddress, "7") << "Set/ADD485=017";
    QTest::newRow("bus address refuses letters") << "" << Typing(kBusAddress, "x") << "";
    QTest::newRow("port list left without a choice") << "" << Leaving(kPortList) << "";
    QTest::newRow("pseudo-terminal port list left") << "[Port]\r\nPort=/dev/pts/4\r\n"
                                                    << Leaving(kPortList) << "";
    QTest::newRow("update time left") << "" << Leaving(kUpdateList) << "Set/UIN=Now";
    QTest::newRow("update time chosen is stored on leaving")
        << "" << Action([](tst_OperatorInput& t) {
               Choosing(kUpdateList, 24)(t);
               t.FocusOn(t.Control(kLineEditors[0]));
           })
        << "Set/UIN=00:00";
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
    Click(kChosenBoxes[2]);
    QVERIFY(!Control(kLineEditors[2])->isEnabled());
    QCOMPARE(Control<QLineEdit>(kLineEditors[2])->text(), "42");
    QCOMPARE(Stored(lumidex::keys::kLineText[2]), "42");
    Click(kChosenBoxes[2]);
    QVERIFY(Control(kLineEditors[2])->isEnabled());
    // The unified flicker box shows on every line after its refresh.
    Click(kUnifiedRadio);
    Click(kUnifiedFlicker);
    Click(kSeparateRadio);
    for (int id : {kFlickerBoxes[0], kFlickerBoxes[1], kFlickerBoxes[2], kFlickerBoxes[3],
                   kFlickerBoxes[4], kFlickerBoxes[5]}) {
        QVERIFY(Control<QCheckBox>(id)->isChecked());
    }
}

void tst_OperatorInput::longCaptionIsStoredWholeAndReadBackCut() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    const QString caption(40, QChar('w'));
    FocusOn(Control(kCaptionEditors[0]));
    QTest::keyClicks(Control(kCaptionEditors[0]), caption);
    QCOMPARE(QString::fromStdString(ReadKeys(config())["TextBT/TB1"]), caption);
    Click(kSaveAndExitButton);
    QCOMPARE(Control<QLineEdit>(kCaptionEditors[0])->text(), QString(29, QChar('w')));
}

void tst_OperatorInput::sliderWritesOnlyAChangedPosition() {
    Start();
    OpenPanel();
    QTRY_COMPARE(dialog_->width(), 520);
    auto* day = Control<QSlider>(kDaySlider);
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
    auto* address = Control<IpAddressField>(kAddressField);
    const QString fields[] = {"192", "168", "1", "100"};
    for (int i = 0; i < 4; ++i) {
        QLineEdit* field = address->field(i);
        FocusOn(field);
        field->selectAll();
        QTest::keyClicks(field, fields[i]);
    }
    FocusOn(Control(kLineEditors[0]));
    QCOMPARE(ReadKeys(config())["Set/LEDIP"], "-1062731420");
    QCOMPARE(Control<QLabel>(kAddressLabel)->text(), "IP：  192.168.1.100");
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
    auto* editor = Control<QLineEdit>(kLineEditors[0]);
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
    auto* editor = Control<QLineEdit>(kLineEditors[0]);
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
    FocusOn(Control(kLineEditors[1]));
    QCOMPARE(editor->text(), "765.4");
    QCOMPARE(Stored(lumidex::keys::kLineText[0]), "765.4");
}

QTEST_MAIN(tst_OperatorInput)
#include "tst_operator_input.moc"
