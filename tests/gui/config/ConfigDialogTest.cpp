// The Configure dialog offscreen: its controls, the preselection, what OK
// reads from the chosen item, the keys, and the error box for an empty list.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "serial/InMemoryRegistry.h"
#include "ui/U_Config.h"

namespace qrb {
namespace {

const std::string kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

InMemoryRegistry RegistryWith(const std::vector<std::string>& ports) {
    InMemoryRegistry registry;
    registry.AddKey(kMap);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        registry.SetString(kMap, "\\Device\\Serial" + std::to_string(i), ports[i]);
    }
    return registry;
}

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Runs the dialog modally; `action` runs once it is shown. A dialog still
// open after five seconds ends with -1 so that a broken test cannot hang.
int ExecWith(TfrmConfig& dialog, const std::function<void()>& action) {
    QTimer::singleShot(0, &dialog, action);
    QTimer::singleShot(5000, &dialog, [&dialog] { dialog.done(-1); });
    return dialog.exec();
}

struct SeenMessageBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Watches for the next modal message box, notes what it shows and presses
// its first button.
void AnswerNextMessageBox(SeenMessageBox& seen) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        seen.seen = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        poll->deleteLater();
        box->buttons().front()->click();
    });
    poll->start(10);
}

TEST(ConfigDialog, PreselectsTheFirstItemContainingTheCurrentPort) {
    struct Case {
        std::vector<std::string> ports;
        int comPortNumber;
        QString expected;  // empty: nothing selected
    };
    const Case cases[] = {
        {{"COM2", "COM10"}, 1, "COM10"},  // by substring: no COM1, so COM10
        {{"COM1", "COM10"}, 1, "COM1"},
        {{"COM3", "COM4"}, 0, "COM3"},  // port 0 selects the first item
        {{"COM3", "COM4"}, 4, "COM4"},
        {{"COM3", "COM4"}, 7, "COM3"},
        {{"COM3", "COM4"}, -4, "COM3"},
        {{}, 1, ""},
    };
    for (const Case& c : cases) {
        InMemoryRegistry registry = RegistryWith(c.ports);
        SharedState state;
        state.ComPortNumber = c.comPortNumber;
        TfrmConfig dialog(state, registry);
        EXPECT_EQ(dialog.cmbCom->currentText(), c.expected) << c.comPortNumber;
        EXPECT_EQ(dialog.cmbCom->currentIndex() < 0, c.expected.isEmpty());
    }
}

TEST(ConfigDialog, FillsTheListInPortOrderWithLabels) {
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\VCP0", "COM12");
    registry.SetString(kMap, "\\Device\\Serial0", "COM1");
    registry.SetString(kMap, "\\Device\\USBSER000", "COM4");
    SharedState state;
    TfrmConfig dialog(state, registry);
    EXPECT_EQ(Items(dialog.cmbCom), (QStringList{"COM1", "COM4   (UIA-40)", "COM12   (UIA-42)"}));
}

TEST(ConfigDialog, OkReadsCharactersFourToSevenOfTheItem) {
    struct Case {
        std::string port;
        int expected;
    };
    const Case cases[] = {
        {"COM3", 3},
        {"COM1234", 1234},
        {"COM12345", 1234},
        {"COM007", 7},
    };
    for (const Case& c : cases) {
        InMemoryRegistry registry = RegistryWith({c.port});
        SharedState state;
        state.ComPortNumber = 99;
        TfrmConfig dialog(state, registry);
        EXPECT_EQ(ExecWith(dialog, [&] { QTest::mouseClick(dialog.btnOk, Qt::LeftButton); }), 1);
        EXPECT_EQ(state.ComPortNumber, c.expected) << c.port;
    }

    // A labelled item, chosen by the person.
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\Serial0", "COM1");
    registry.SetString(kMap, "\\Device\\USBSER000", "COM12");
    SharedState state;
    state.ComPortNumber = 1;
    TfrmConfig dialog(state, registry);
    ASSERT_EQ(dialog.cmbCom->itemText(1), "COM12   (UIA-40)");
    dialog.cmbCom->setCurrentIndex(1);
    EXPECT_EQ(ExecWith(dialog, [&] { dialog.btnOk->click(); }), TfrmConfig::kModalResultOk);
    EXPECT_EQ(state.ComPortNumber, 12);
}

TEST(ConfigDialog, EmptyListShowsTheErrorBoxAndClosesAsOk) {
    InMemoryRegistry registry = RegistryWith({});
    SharedState state;
    state.ComPortNumber = 6;
    TfrmConfig dialog(state, registry);
    SeenMessageBox box;
    AnswerNextMessageBox(box);
    EXPECT_EQ(ExecWith(dialog, [&] { dialog.btnOk->click(); }), TfrmConfig::kModalResultOk);
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, "Error");
    EXPECT_EQ(box.text, "COM port Setting Error");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    EXPECT_EQ(state.ComPortNumber, 6);
}

TEST(ConfigDialog, EscapeAndCancelEndAsCancelWithThePortUnchanged) {
    const std::function<void(TfrmConfig&)> ways[] = {
        [](TfrmConfig& d) { QTest::keyClick(d.focusWidget(), Qt::Key_Escape); },
        [](TfrmConfig& d) { QTest::keyClick(d.cmbCom, Qt::Key_Escape); },
        [](TfrmConfig& d) { d.btnCancel->click(); },
        [](TfrmConfig& d) { d.close(); },
    };
    for (const auto& way : ways) {
        InMemoryRegistry registry = RegistryWith({"COM1", "COM2"});
        SharedState state;
        state.ComPortNumber = 1;
        TfrmConfig dialog(state, registry);
        dialog.cmbCom->setCurrentIndex(1);
        EXPECT_EQ(ExecWith(dialog, [&] { way(dialog); }), TfrmConfig::kModalResultCancel);
        EXPECT_EQ(state.ComPortNumber, 1);
    }
}

TEST(ConfigDialog, OpensOnThe38400ButtonAndTabsInTheFormOrder) {
    InMemoryRegistry registry = RegistryWith({"COM1"});
    SharedState state;
    TfrmConfig dialog(state, registry);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(QApplication::focusWidget(), dialog.rbtn38400bps);

    const QWidget* order[] = {dialog.btnOk, dialog.btnCancel, dialog.cmbCom, dialog.rbtn38400bps};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST(ConfigDialog, AltPMovesTheFocusToThePortListWhenItIsEnabled) {
    InMemoryRegistry registry = RegistryWith({"COM1"});
    SharedState state;
    TfrmConfig dialog(state, registry);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    dialog.cmbCom->setEnabled(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), dialog.rbtn38400bps);

    dialog.cmbCom->setEnabled(true);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), dialog.cmbCom);

    // P without Alt is an ordinary key for the focused control.
    dialog.btnOk->setFocus();
    QTest::keyClick(dialog.btnOk, Qt::Key_P);
    EXPECT_EQ(QApplication::focusWidget(), dialog.btnOk);
    EXPECT_TRUE(dialog.isVisible());
}

TEST(ConfigDialog, ControlsHaveTheirCaptionsPlacesAndStates) {
    InMemoryRegistry registry = RegistryWith({"COM1"});
    SharedState state;
    TfrmConfig dialog(state, registry);

    EXPECT_EQ(dialog.windowTitle(), "Configure");
    EXPECT_EQ(dialog.font().family(), "Tahoma");
    EXPECT_EQ(dialog.font().pixelSize(), 11);
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(dialog.cmbCom->isEditable());

    struct Expected {
        const QWidget* widget;
        QRect geometry;
        QString caption;
        bool enabled;
    };
    const Expected controls[] = {
        {dialog.Panel2, {26, 26, 105, 21}, "  Com &Port", true},
        {dialog.gboxBaudRate, {24, 66, 157, 153}, "BaudRate", true},
        {dialog.rbtn04800bps, {28, 28, 90, 17}, "  4800 bps (&A)", false},
        {dialog.rbtn09600bps, {28, 58, 90, 17}, "  9600 bps (&B)", false},
        {dialog.rbtn19200bps, {28, 88, 90, 17}, "19200 bps (&C)", false},
        {dialog.rbtn38400bps, {28, 119, 90, 17}, "38400 bps (&D)", true},
        {dialog.btnOk, {206, 152, 75, 25}, "&Ok", true},
        {dialog.btnCancel, {206, 196, 75, 25}, "Cancel", true},
    };
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    for (const Expected& c : controls) {
        const QString name = c.widget->objectName();
        EXPECT_EQ(c.widget->geometry(), c.geometry) << name.toStdString();
        EXPECT_EQ(c.widget->isEnabled(), c.enabled) << name.toStdString();
        QString caption;
        if (auto* label = qobject_cast<const QLabel*>(c.widget))
            caption = label->text();
        if (auto* group = qobject_cast<const QGroupBox*>(c.widget))
            caption = group->title();
        if (auto* button = qobject_cast<const QAbstractButton*>(c.widget))
            caption = button->text();
        EXPECT_EQ(caption, c.caption) << name.toStdString();
    }
    EXPECT_EQ(dialog.cmbCom->x(), 138);
    EXPECT_EQ(dialog.cmbCom->y(), 26);
    EXPECT_EQ(dialog.cmbCom->width(), 145);
    EXPECT_TRUE(dialog.rbtn38400bps->isChecked());
    EXPECT_EQ(dialog.Panel2->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(dialog.Panel1->geometry(), dialog.rect());
    EXPECT_EQ(dialog.frameGeometry().size(), QSize(328, 277));
}

TEST(ConfigDialog, IsCentredOnTheMainWindowAndKeepsButtonsAtTheBottom) {
    QWidget mainWindow;
    mainWindow.setGeometry(100, 80, 649, 475);
    mainWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWindow));

    InMemoryRegistry registry = RegistryWith({"COM1"});
    SharedState state;
    TfrmConfig dialog(state, registry, &mainWindow);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QRect owner = mainWindow.frameGeometry();
    const QRect outer = dialog.frameGeometry();
    EXPECT_EQ(outer.topLeft(), QPoint(owner.x() + (owner.width() - outer.width()) / 2,
                                      owner.y() + (owner.height() - outer.height()) / 2));

    const int okFromBottom = dialog.height() - dialog.btnOk->geometry().bottom();
    const int cancelFromBottom = dialog.height() - dialog.btnCancel->geometry().bottom();
    dialog.resize(dialog.width() + 40, dialog.height() + 60);
    EXPECT_EQ(dialog.height() - dialog.btnOk->geometry().bottom(), okFromBottom);
    EXPECT_EQ(dialog.height() - dialog.btnCancel->geometry().bottom(), cancelFromBottom);
    EXPECT_EQ(dialog.btnOk->x(), 206);
    EXPECT_EQ(dialog.Panel1->size(), dialog.size());
}

TEST(ConfigDialog, PortThatMayNotBeOpenedGetsAPermissionHint) {
    InMemoryRegistry registry = RegistryWith({"COM3", "COM4"});
    SharedState state;
    state.ComPortNumber = 3;
    std::vector<std::string> checked;
    TfrmConfig dialog(state, registry, nullptr, [&checked](const std::string& path) {
        checked.push_back(path);
        return path == "/dev/ttyS2" ? EACCES : ENOENT;
    });
    ASSERT_EQ(dialog.cmbCom->currentText(), "COM3");
    EXPECT_TRUE(dialog.cmbCom->toolTip().contains("/dev/ttyS2"));
    EXPECT_TRUE(dialog.cmbCom->toolTip().contains("dialout"));

    dialog.cmbCom->setCurrentIndex(1);  // missing, not forbidden: no hint
    EXPECT_EQ(checked.back(), "/dev/ttyS3");
    EXPECT_TRUE(dialog.cmbCom->toolTip().isEmpty());
}

TEST(ConfigDialog, BrokenPortListIsReportedAndTheDialogStillOpens) {
    InMemoryRegistry registry = RegistryWith({"COM1", "COM2"});
    registry.SetExhaustingValue(kMap, "\\Device\\Serial9");
    SharedState state;
    state.ComPortNumber = 2;
    SeenMessageBox box;
    AnswerNextMessageBox(box);
    TfrmConfig dialog(state, registry);
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(Items(dialog.cmbCom), (QStringList{"COM1", "COM2"}));
    EXPECT_EQ(ExecWith(dialog, [&] { dialog.btnCancel->click(); }), TfrmConfig::kModalResultCancel);
}

}  // namespace
}  // namespace qrb
