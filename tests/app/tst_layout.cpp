#include "gui/qt/dialog_font.h"
#include "gui/qt/message_boxes.h"
#include "tests/app/dialog_test_base.h"

#include <QAbstractItemView>
#include <QGroupBox>
#include <QMessageBox>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>

// The window's look in the font actually used: every text fits its control
// and every character has a glyph, the port label keeps the baud rate, group
// titles sit on their frame line, no button is drawn as the default, long
// captions show their start, and the window has its icon. The suite also
// runs at a scale factor of 2 (see tests/CMakeLists.txt).
class tst_Layout : public DialogTestBase {
    Q_OBJECT

    // "what (id): text" for messages.
    static QString Name(const QWidget* widget, const QString& text) {
        return QString("%1 (%2): \"%3\"")
            .arg(widget->metaObject()->className(), widget->objectName(), text);
    }

    // The room a control gives its text, in the style that draws it.
    static int TextRoom(QWidget* widget) {
        QStyle* style = widget->style();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            return label->contentsRect().width();
        }
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            return style->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
        }
        if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(radio);
            option.text = radio->text();
            return style->subElementRect(QStyle::SE_RadioButtonContents, &option, radio).width();
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            return style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        }
        if (auto* list = qobject_cast<QComboBox*>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            option.editable = false;
            return style
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
                .width();
        }
        if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            return group->width();
        }
        return -1;
    }

    // Every text a control shows: its label, or each item of a list.
    static QStringList Texts(const QWidget* widget) {
        if (auto* label = qobject_cast<const QLabel*>(widget)) {
            return {label->text()};
        }
        if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            return {QString(button->text()).replace("&&", "&")};
        }
        if (auto* group = qobject_cast<const QGroupBox*>(widget)) {
            return {group->title()};
        }
        if (auto* list = qobject_cast<const QComboBox*>(widget)) {
            QStringList items;
            for (int i = 0; i < list->count(); ++i) {
                items << list->itemText(i);
            }
            return items;
        }
        return {};
    }

    // The dialog's labelled controls: those with an identifier or a text.
    QList<QWidget*> LabelledControls() const {
        QList<QWidget*> controls;
        for (QWidget* widget : dialog_->findChildren<QWidget*>()) {
            if (widget->parentWidget() == dialog_.get() && TextRoom(widget) >= 0) {
                controls << widget;
            }
        }
        return controls;
    }

    // The face the dialog's texts are drawn in, for messages.
    QString FontInUse() const { return QFontInfo(dialog_->font()).family(); }

    static std::string Ini(const QString& port, const QString& caption) {
        return QString("[Set]\r\nSet=1\r\nLEDIP=-1062731420\r\n[Port]\r\nPort=%1\r\nBoud=57600\r\n"
                       "[TextBT]\r\nTB1=%2\r\n")
            .arg(port, caption)
            .toStdString();
    }

private slots:
    void initTestCase() { QuietSizeHints(); }
    void everyTextFitsItsControl();
    void everyCharacterHasAGlyph();
    void portLabelKeepsTheBaudRate_data();
    void portLabelKeepsTheBaudRate();
    void groupTitlesSitOnTheFrameLine();
    void noButtonIsTheDefault();
    void longCaptionShowsItsStart();
    void windowHasTheProgramsIcon();
    void messageBoxIsWideEnoughForItsTitle();
};

void tst_Layout::everyTextFitsItsControl() {
    Start(Ini("/dev/ttyUSB0", "Caption"));
    QStringList clipped;
    int checked = 0;
    for (QWidget* widget : LabelledControls()) {
        int room = TextRoom(widget);
        if (auto* ports = qobject_cast<EnumCommPort*>(widget)) {
            // Device paths are wider than the list: its drop-down shows them
            // whole, and the closed list shows the chosen one cut to fit.
            ports->showPopup();
            QTest::qWait(0);
            const int drop_down = ports->view()->viewport()->width();
            ports->hidePopup();
            for (int i = 0; i < ports->count(); ++i) {
                ports->setCurrentIndex(i);
                const int shown = ports->fontMetrics().horizontalAdvance(ports->ShownText());
                ++checked;
                if (shown > room) {
                    clipped << QString("%1 shows %2 px, has %3")
                                   .arg(Name(widget, ports->ShownText()))
                                   .arg(shown)
                                   .arg(room);
                }
            }
            room = drop_down;
        }
        for (const QString& text : Texts(widget)) {
            const int needed = widget->fontMetrics().horizontalAdvance(text);
            ++checked;
            if (needed > room) {
                clipped << QString("%1 needs %2 px, has %3")
                               .arg(Name(widget, text))
                               .arg(needed)
                               .arg(room);
            }
        }
    }
    QVERIFY2(checked > 100, qPrintable(QString("only %1 texts checked").arg(checked)));
    QVERIFY2(clipped.isEmpty(),
             qPrintable("clipped in " + FontInUse() + ":\n" + clipped.join("\n")));
}

void tst_Layout::everyCharacterHasAGlyph() {
    Start(Ini("/dev/ttyUSB0", "Caption"));
    dialog_->control<QComboBox>(kPortList)->addItem("/dev/ttyUSB0");
    QStringList missing;
    for (QWidget* widget : LabelledControls()) {
        const QFontMetrics metrics = widget->fontMetrics();
        for (const QString& text : Texts(widget)) {
            for (const uint character : text.toUcs4()) {
                if (!metrics.inFontUcs4(character)) {
                    missing << QString("U+%1 in %2")
                                   .arg(character, 4, 16, QChar('0'))
                                   .arg(Name(widget, text));
                }
            }
        }
    }
    // The places message ends in a full-width exclamation mark.
    if (!QFontMetrics(DialogFont()).inFontUcs4(0xFF01)) {
        missing << "U+ff01 of the places message";
    }
    QVERIFY2(missing.isEmpty(),
             qPrintable("no glyph in " + FontInUse() + ":\n" + missing.join("\n")));
}

void tst_Layout::portLabelKeepsTheBaudRate_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("shown"); // empty: cut in the middle
    QTest::newRow("COM name") << "COM3"
                              << "COM3";
    QTest::newRow("no port") << ""
                             << "";
    QTest::newRow("usb device") << "/dev/ttyUSB0"
                                << "ttyUSB0";
    QTest::newRow("acm device") << "/dev/ttyACM0"
                                << "ttyACM0";
    QTest::newRow("by-id path") << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
                                << QString();
}

void tst_Layout::portLabelKeepsTheBaudRate() {
    QFETCH(QString, port);
    QFETCH(QString, shown);
    const bool whole = !shown.isEmpty() || port.isEmpty();
    Start(Ini(port, ""));
    auto* label = Control<QLabel>(kPortLabel);
    const QString text = label->text();
    QVERIFY2(text.endsWith("  Boud: 57600"), qPrintable(text));
    QVERIFY2(text.startsWith("Port:  "), qPrintable(text));
    QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width(),
             qPrintable(text));
    if (whole) {
        QCOMPARE(text, "Port:  " + shown + "  Boud: 57600");
    } else {
        // Cut in the middle: the start and the end of the name both show.
        QVERIFY2(text.contains("…"), qPrintable(text));
        QVERIFY2(text.startsWith("Port:  se"), qPrintable(text));
        QVERIFY2(text.endsWith("0  Boud: 57600"), qPrintable(text));
    }
    // The full path is the tooltip.
    QCOMPARE(label->toolTip(), port);
    // The label reaches no further than the "Send" group's inner edge.
    const auto groups = dialog_->findChildren<QGroupBox*>();
    const auto send = std::find_if(groups.begin(), groups.end(),
                                   [](const QGroupBox* group) { return group->title() == "Send"; });
    QVERIFY(send != groups.end());
    QVERIFY(label->geometry().right() < (*send)->geometry().right());
}

void tst_Layout::groupTitlesSitOnTheFrameLine() {
    Start();
    const auto groups = dialog_->findChildren<QGroupBox*>();
    QCOMPARE(groups.size(), 5);
    for (QGroupBox* group : groups) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        option.lineWidth = 1;
        const QRect frame = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxFrame, group);
        const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxLabel, group);
        // The frame's top line runs through the title, not below it.
        QVERIFY2(frame.top() > title.top() && frame.top() < title.bottom(),
                 qPrintable(QString("%1: frame top %2, title %3..%4")
                                .arg(group->title())
                                .arg(frame.top())
                                .arg(title.top())
                                .arg(title.bottom())));
    }
}

void tst_Layout::noButtonIsTheDefault() {
    Start();
    const auto buttons = dialog_->findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 8);
    for (QPushButton* button : buttons) {
        QVERIFY2(!button->autoDefault() && !button->isDefault(), qPrintable(button->text()));
    }
}

void tst_Layout::longCaptionShowsItsStart() {
    const QString caption = "A caption much longer than the field";
    Start(Ini("", caption));
    auto* editor = Control<QLineEdit>(kCaptionEditors[0]);
    QCOMPARE(editor->text(), caption.left(29));
    QCOMPARE(editor->cursorPosition(), 0);
    QCOMPARE(Control<QLineEdit>(kBusAddress)->cursorPosition(), 0);
}

void tst_Layout::windowHasTheProgramsIcon() {
    Start();
    const QIcon icon = dialog_->windowIcon();
    QVERIFY(!icon.isNull());
    const QImage image = icon.pixmap(32, 32).toImage();
    QVERIFY(!image.isNull());
    // Drawn, not blank: the digit's red segments are there.
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            red += pixel.red() > 180 && pixel.green() < 80 && pixel.alpha() > 200;
        }
    }
    QVERIFY2(red > 20, qPrintable(QString("%1 red pixels").arg(red)));
}

void tst_Layout::messageBoxIsWideEnoughForItsTitle() {
    // A short message under a longer caption: the box is no narrower than
    // the caption in the title font plus room for the title bar's icon and
    // buttons: openbox's default theme shows the caption whole in a box
    // about 140 pixels wider than the caption.
    const QString caption = "Lumidex_1.0";
    QFont title_font = QApplication::font("QMdiSubWindowTitleBar");
    title_font.setBold(true);
    const int needed = QFontMetrics(title_font).horizontalAdvance(caption) + 140;
    int width = -1;
    QTimer::singleShot(0, [&width] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        width = box->width();
        box->buttons().first()->click();
    });
    QtMessageBoxes boxes;
    const auto answer = boxes.Show(nullptr, {0, "Sent successfully!", caption.toStdString()});
    QVERIFY(answer == lumidex::dialog::BoxAnswer::Ok);
    QVERIFY2(width >= needed, qPrintable(QString("%1 < %2").arg(width).arg(needed)));
}

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
