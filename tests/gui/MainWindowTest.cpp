// The main window: name and version from the version data, layout, status
// lamp, help texts and the focus order.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <map>
#include <memory>

#include "GuiTestSupport.h"
#include "ui/HelpTexts.h"
#include "ui/TargetButton.h"
#include "ui/U_Config.h"
#include "ui/fw.h"

namespace qrb {
namespace {

using test::BoxWatcher;
using test::FirmwareText;
using test::ScopedCurrentFolder;

VersionData Version(const std::string& name, const std::string& version) {
    return {{0x04E40409u},
            {{"\\StringFileInfo\\040904E4\\ProductName", name},
             {"\\StringFileInfo\\040904E4\\ProductVersion", version}}};
}

TEST(MainWindowStartup, NameVersionAndSettingsFileComeFromTheVersionData) {
    struct Case {
        const char* what;
        VersionData data;
        const char* caption;
        const char* label;
        const char* settingsFile;
    };
    const std::vector<Case> cases = {
        {"built-in", ProgramVersionData(), "QRB117 for DSP", "QRB117 Ver.1.02", "QRB117.ini"},
        {"another product name", Version("QRB200", "1.02"), "QRB200 for DSP", "QRB200 Ver.1.02",
         "QRB200.ini"},
        {"no version data", VersionData{}, " for DSP", " Ver.", ".ini"},
    };
    for (const Case& c : cases) {
        ScopedCurrentFolder folder;
        // The settings file of exactly this name is the one read at start-up.
        folder.write(c.settingsFile, "7");
        const TfrmMain window(c.data);
        EXPECT_EQ(window.windowTitle(), QString::fromLatin1(c.caption)) << c.what;
        EXPECT_EQ(window.Label4->text(), QString::fromLatin1(c.label)) << c.what;
        EXPECT_EQ(window.SettingsFilePath, QString::fromLatin1(c.settingsFile)) << c.what;
        EXPECT_EQ(window.Label2->text(), QStringLiteral("COM Port:COM7")) << c.what;
        EXPECT_EQ(window.State().ComPortNumber, 7) << c.what;
    }
}

TEST(MainWindowStartup, MissingTranslationTableIsReportedAndEndsTheStartUp) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "7");
    folder.write("TN508001_M_V0101.SFL", FirmwareText({"header"}));
    const BoxWatcher watcher;
    const VersionData noTranslation{{}, {{"\\StringFileInfo\\040904E4\\ProductName", "QRB117"}}};
    TfrmMain window(noTranslation);
    window.ShowStatusLamp(StatusLamp::Red);  // the lamp stays as the sequence left it

    ASSERT_EQ(watcher.boxes().size(), 1u);
    const test::SeenBox& box = watcher.boxes().front();
    EXPECT_EQ(box.title, QStringLiteral("QRB117 for RQ-7300"));
    EXPECT_EQ(box.text, QString::fromUtf8("情報の取得に失敗しました."));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    // Nothing after the lookup ran: no file list, no port, no folder.
    EXPECT_EQ(window.Label4->text(), QStringLiteral("QRB117 x.xx"));
    EXPECT_EQ(window.Label2->text(), QStringLiteral("COM Port:COM1"));
    EXPECT_EQ(window.State().ComPortNumber, 0);
    EXPECT_EQ(window.grdFileList->rowCount(), 1);
    EXPECT_TRUE(window.StatusPanel0->text().isEmpty());
    EXPECT_EQ(window.cmbBRT->currentIndex(), -1);
}

TEST(MainWindowStartup, ShowsTheFolderTheBitRateAndTheGreenLamp) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "3");
    const TfrmMain window;
    EXPECT_EQ(window.StatusPanel0->text(), folder.path());
    EXPECT_EQ(window.FirmwareFolder(), folder.path());
    EXPECT_EQ(window.cmbBRT->currentText(), QStringLiteral("38400"));
    EXPECT_FALSE(window.cmbBRT->isEnabled());
    EXPECT_FALSE(window.imgGreen->isHidden());
    EXPECT_TRUE(window.imgRed->isHidden());
    EXPECT_TRUE(window.imgYellow->isHidden());
    EXPECT_TRUE(window.ProgressBar1->isHidden());
    EXPECT_TRUE(window.ProgressBar2->isHidden());
    EXPECT_TRUE(window.Label1->text().isEmpty());
}

TEST(MainWindowLayout, ControlsSitWhereTheFormPutsThem) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "1");
    const TfrmMain w;
    EXPECT_EQ(w.size(), QSize(649, 475));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "the window must not be resizable";
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);

    const std::vector<std::pair<QWidget*, QRect>> places = {
        {w.grdFileList, {12, 12, 341, 169}}, {w.btnConfig, {368, 12, 110, 25}},
        {w.btnReload, {368, 56, 110, 25}},   {w.btnBrowse, {368, 104, 110, 25}},
        {w.Label2, {520, 42, 98, 15}},       {w.Label4, {500, 125, 130, 15}},
        {w.Image1, {478, 150, 160, 20}},     {w.Panel8, {6, 182, 355, 51}},
        {w.btnMasterCPU, {6, 5, 100, 25}},   {w.btnSlaveCPU, {130, 5, 100, 25}},
        {w.btnOLU6, {246, 5, 100, 25}},      {w.Label5, {6, 32, 100, 15}},
        {w.Label6, {130, 32, 100, 15}},      {w.Label7, {246, 32, 100, 15}},
        {w.btnWRITE, {368, 187, 110, 25}},   {w.btnClose, {520, 187, 110, 25}},
        {w.Memo1, {12, 232, 341, 209}},      {w.Panel7, {368, 232, 267, 210}},
        {w.ProgressBar1, {15, 72, 230, 17}}, {w.ProgressBar2, {15, 125, 230, 17}},
        {w.imgGreen, {622, 7, 16, 16}},      {w.imgRed, {622, 7, 16, 16}},
        {w.imgYellow, {622, 7, 16, 16}},
    };
    for (const auto& [widget, rect] : places) {
        EXPECT_EQ(widget->geometry(), rect) << widget->metaObject()->className();
    }
    EXPECT_EQ(w.cmbBRT->geometry().topLeft(), QPoint(520, 12));
    EXPECT_EQ(w.cmbBRT->width(), 110);
    EXPECT_EQ(w.StatusBar1->geometry(), QRect(0, 450, 649, 25));
    EXPECT_EQ(w.StatusPanel0->width(), 610);
    EXPECT_EQ(w.grdFileList->columnWidth(0), 144);
    EXPECT_EQ(w.grdFileList->columnWidth(1), 120);
    EXPECT_EQ(w.grdFileList->columnWidth(2), 53);
    EXPECT_EQ(w.grdFileList->rowHeight(0), 18);
    EXPECT_EQ(w.Image1->pixmap().size(), QSize(156, 21));

    struct FontCase {
        QWidget* widget;
        const char* family;
        int pixelSize;
        bool bold;
    };
    const std::vector<FontCase> fonts = {
        {w.btnConfig, "Arial", 12, false},   {w.grdFileList, "Arial", 12, false},
        {w.Label2, "Arial", 12, true},       {w.Label4, "System", 12, true},
        {w.Label5, "Arial", 11, false},      {w.Label1, "Arial", 11, false},
        {w.Memo1, "Courier New", 11, false},
    };
    for (const FontCase& f : fonts) {
        EXPECT_EQ(w.font().pixelSize(), 12);
        EXPECT_EQ(f.widget->font().family(), QString::fromLatin1(f.family)) << f.family;
        EXPECT_EQ(f.widget->font().pixelSize(), f.pixelSize) << f.family;
        EXPECT_EQ(f.widget->font().bold(), f.bold) << f.family;
    }

    EXPECT_EQ(w.btnMasterCPU->text(), QStringLiteral("&Master CPU"));
    EXPECT_EQ(w.btnClose->text(), QStringLiteral("Cl&ose"));
    EXPECT_EQ(w.btnMasterCPU->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(w.Label1->wordWrap());
}

TEST(MainWindowLamp, ShowsExactlyOneLampAndIgnoresUnknownKinds) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "1");
    TfrmMain window;
    const auto shown = [&window] {
        QString lamps;
        lamps += window.imgRed->isHidden() ? "" : "red ";
        lamps += window.imgYellow->isHidden() ? "" : "yellow ";
        lamps += window.imgGreen->isHidden() ? "" : "green ";
        return lamps.trimmed();
    };
    const std::vector<std::pair<int, const char*>> steps = {
        {2, "red"},    {3, "red"},     {4, "yellow"}, {0, "yellow"}, {1, "yellow"},
        {6, "yellow"}, {-2, "yellow"}, {5, "green"},  {3, "green"},  {2, "red"},
    };
    for (const auto& [kind, expected] : steps) {
        window.ShowStatusLamp(static_cast<StatusLamp>(kind));
        EXPECT_EQ(shown(), QString::fromLatin1(expected)) << "after ShowStatusLamp(" << kind << ")";
    }
}

TEST(MainWindowLamp, PicturesAreTheDecodedLamps) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "1");
    const TfrmMain window;
    struct Case {
        QLabel* lamp;
        int channel;  // 0 red, 1 green; yellow is red and green
    };
    for (QLabel* lamp : {window.imgRed, window.imgYellow, window.imgGreen}) {
        ASSERT_EQ(lamp->pixmap().size(), QSize(16, 16));
    }
    const QColor red = window.imgRed->pixmap().toImage().pixelColor(8, 8);
    const QColor yellow = window.imgYellow->pixmap().toImage().pixelColor(8, 8);
    const QColor green = window.imgGreen->pixmap().toImage().pixelColor(8, 8);
    EXPECT_GT(red.red(), 2 * red.green());
    EXPECT_GT(green.green(), 2 * green.red());
    EXPECT_GT(yellow.red(), 2 * yellow.blue());
    EXPECT_GT(yellow.green(), 2 * yellow.blue());
}

// A window in a folder with files of two targets, shown on screen.
class MainWindowOnScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.write("QRB117.ini", "1");
        folder_.write("TN508001_M_V0101.SFL", FirmwareText({"Master"}), 1600000000);
        folder_.write("TQX37_V0101.SFL", FirmwareText({"Option"}), 1500000000);
        window_ = std::make_unique<TfrmMain>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    // Moves the mouse over a point of a control (its centre by default).
    void moveOver(QWidget* widget, QPoint at = {-1, -1}) {
        QTest::mouseMove(widget, at == QPoint(-1, -1) ? widget->rect().center() : at);
        QApplication::processEvents();
    }

    ScopedCurrentFolder folder_;
    std::unique_ptr<TfrmMain> window_;
};

TEST_F(MainWindowOnScreen, HelpTextsFollowTheMouse) {
    TfrmMain& w = *window_;
    ASSERT_TRUE(w.btnMasterCPU->isEnabled());
    ASSERT_TRUE(w.btnOLU6->isEnabled());
    const std::vector<std::pair<QWidget*, const char*>> cases = {
        {w.grdFileList->viewport(), "Choose the file which should be written."},
        {w.btnMasterCPU,
         "When this button is clicked, Only the file about the RQ-7300 Master CPU is displayed."},
        {w.btnOLU6, "When this button is clicked, Only the file about the OLU-6 is displayed."},
        {w.btnConfig,
         "Select the COM port in the Pull-down menu, in order to connect to the radio."},
        {w.btnClose, "Exit from the program."},
    };
    for (const auto& [control, text] : cases) {
        moveOver(w.Panel1, {2, 2});
        ASSERT_EQ(w.InstructionText(), QString()) << "the background clears";
        moveOver(control);
        EXPECT_EQ(w.InstructionText(), QString::fromLatin1(text));
        EXPECT_EQ(w.Label1->text(), QString::fromLatin1(text));
    }
    // Panel8 between the target buttons is background too.
    moveOver(w.Panel8, {118, 15});
    EXPECT_EQ(w.InstructionText(), QString());
}

TEST_F(MainWindowOnScreen, ControlsWithoutHelpLeaveTheTextAlone) {
    TfrmMain& w = *window_;
    for (QWidget* control :
         std::initializer_list<QWidget*>{w.btnReload, w.btnBrowse, w.Label2, w.Label4, w.Image1,
                                         w.Panel7, w.Label1, w.Label5, w.StatusBar1}) {
        moveOver(w.btnClose);
        moveOver(control);
        EXPECT_EQ(w.InstructionText(), QStringLiteral("Exit from the program."))
            << control->metaObject()->className();
    }
}

TEST_F(MainWindowOnScreen, DisabledControlsPassTheMouseToTheBackground) {
    TfrmMain& w = *window_;
    ASSERT_FALSE(w.btnSlaveCPU->isEnabled()) << "no Slave CPU file in the folder";
    ASSERT_FALSE(w.Memo1->isEnabled());
    ASSERT_FALSE(w.cmbBRT->isEnabled());
    for (QWidget* control :
         std::initializer_list<QWidget*>{w.btnSlaveCPU, w.Memo1->viewport(), w.cmbBRT}) {
        moveOver(w.btnClose);
        moveOver(control);
        EXPECT_EQ(w.InstructionText(), QString()) << control->metaObject()->className();
    }

    // WRITE: its text while enabled, the background's while disabled.
    ASSERT_TRUE(w.btnWRITE->isEnabled());
    moveOver(w.btnWRITE);
    EXPECT_TRUE(w.InstructionText().startsWith(QStringLiteral("When this button is clicked")));
    w.btnWRITE->setEnabled(false);
    moveOver(w.btnClose);
    moveOver(w.btnWRITE, {5, 5});
    EXPECT_EQ(w.InstructionText(), QString());
    w.btnWRITE->setEnabled(true);
    moveOver(w.btnWRITE, {6, 6});
    EXPECT_FALSE(w.InstructionText().isEmpty());
}

TEST_F(MainWindowOnScreen, WriteHelpNamesTheTargetOfTheSelectedFile) {
    TfrmMain& w = *window_;
    const QString rest = QStringLiteral(
        "\r\nFollow the steps below."
        "\r\n1. Connect the DC cable from the radio."
        "\r\n2. Connect the radio and PC via UIA-40 or UIA-42 with LC-508B."
        "\r\n3. Turn on the radio."
        "\r\n4. When you click on the \"WRITE\" button, then firmware writing process begins.");
    const std::vector<std::pair<WriteTarget, QString>> cases = {
        {kMasterCpu,
         QStringLiteral("When this button is clicked, the RQ-7300 Master CPU will be "
                        "selected as the radio to which the firmware will be installed.")},
        {kSlaveCpu,
         QStringLiteral("When this button is clicked, the RQ-7300 Slave CPU will be "
                        "selected as the radio to which the firmware will be installed.")},
        {kOptionUnit, QStringLiteral("When this button is clicked, the OLU-6 will selected as the "
                                     "unit to which the firmware will be installed.")},
        {7, QStringLiteral("When this button is clicked, the OLU-6 will selected as the unit to "
                           "which the firmware will be installed.")},
    };
    for (const auto& [target, first] : cases) {
        w.State().SelectedTarget = target;
        moveOver(w.btnClose);
        moveOver(w.btnWRITE);
        EXPECT_EQ(w.InstructionText(), first + rest) << "target " << target;
        EXPECT_EQ(WriteButtonHelp(target), first + rest);
    }

    // Choosing a file of another target switches the text.
    for (int row = w.grdFileList->rowCount() - 1; row >= 1; --row) {  // row 1 is current
        const bool optionUnit = w.grdFileList->item(row, 0)->text().startsWith("TQX37");
        w.grdFileList->setCurrentCell(row, 0);
        ASSERT_EQ(w.State().SelectedTarget, optionUnit ? kOptionUnit : kMasterCpu);
        moveOver(w.btnClose);
        moveOver(w.btnWRITE);
        EXPECT_EQ(w.InstructionText().startsWith(
                      QStringLiteral("When this button is clicked, the OLU-6")),
                  optionUnit);
    }
}

TEST_F(MainWindowOnScreen, TabWalksTheFocusOrderFromTheFileList) {
    TfrmMain& w = *window_;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), w.grdFileList);
    const std::vector<QWidget*> order = {w.btnReload, w.btnWRITE, w.btnClose, w.btnBrowse,
                                         w.btnConfig};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
    // A disabled WRITE button is skipped.
    w.btnWRITE->setEnabled(false);
    w.grdFileList->setFocus();
    QTest::keyClick(w.grdFileList, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.btnClose);
}

}  // namespace
}  // namespace qrb

namespace qrb {
namespace {

// The start-up port search over COM1 to COM10, with the ports pointed at
// test devices through QRB117_COMPORTS.
class MainWindowPortSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(ptyMaster_, 0);
        ASSERT_EQ(::grantpt(ptyMaster_), 0);
        ASSERT_EQ(::unlockpt(ptyMaster_), 0);
        ptySlave_ = ::ptsname(ptyMaster_);
        saved_ = qgetenv("QRB117_COMPORTS");
    }
    void TearDown() override {
        qputenv("QRB117_COMPORTS", saved_);
        ::close(ptyMaster_);
    }
    // COM1..COM10 on devices that do not exist, except those given.
    void ports(const std::map<int, std::string>& open) {
        std::string value;
        for (int n = 1; n <= 10; ++n) {
            const auto found = open.find(n);
            const std::string device = found != open.end()
                                           ? found->second
                                           : folder_.file("no-device-" + std::to_string(n));
            value += "COM" + std::to_string(n) + "=" + device + ";";
        }
        qputenv("QRB117_COMPORTS", QByteArray::fromStdString(value));
    }

    test::ScopedCurrentFolder folder_;
    int ptyMaster_ = -1;
    std::string ptySlave_;
    QByteArray saved_;
};

TEST_F(MainWindowPortSearch, TheFirstPortThatOpensIsTakenAndRemembered) {
    ports({{3, ptySlave_}, {5, ptySlave_}});
    const TfrmMain window;
    EXPECT_EQ(window.State().ComPortNumber, 3);
    EXPECT_EQ(window.State().ComBitRate, 38400);
    EXPECT_EQ(window.Label2->text(), QStringLiteral("COM Port:COM3"));
    QFile settings(folder_.path() + "/QRB117.ini");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), QByteArray("3"));
}

TEST_F(MainWindowPortSearch, NoPortLeavesComZeroAndWritesNothing) {
    ports({});
    const TfrmMain window;
    EXPECT_EQ(window.State().ComPortNumber, 0);
    EXPECT_EQ(window.Label2->text(), QStringLiteral("COM Port:COM0"));
    EXPECT_FALSE(QFile::exists(folder_.path() + "/QRB117.ini"));
    EXPECT_TRUE(window.Label2->toolTip().isEmpty()) << "no port was refused, none exists";
}

TEST_F(MainWindowPortSearch, ASettingsFileSkipsTheSearch) {
    ports({{1, ptySlave_}});
    folder_.write("QRB117.ini", " 9");
    const TfrmMain window;
    EXPECT_EQ(window.State().ComPortNumber, 9);
    EXPECT_EQ(window.State().ComBitRate, 0) << "no port was probed";
}

TEST_F(MainWindowPortSearch, APortThatMayNotBeOpenedIsNamedInATooltip) {
    const std::string locked = folder_.file("locked-tty");
    folder_.write("locked-tty", "");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    // The other ports are missing, not forbidden: the folder can be searched.
    ASSERT_EQ(::chmod(QFile::encodeName(folder_.path()).constData(), 0755), 0);
    ports({{2, locked}});
    // Root may open every device: search as an ordinary user then.
    const uid_t user = ::geteuid();
    if (user == 0) {
        ASSERT_EQ(::seteuid(65534), 0);
    }
    const TfrmMain window;
    if (user == 0) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_EQ(window.Label2->text(), QStringLiteral("COM Port:COM0"));
    EXPECT_TRUE(window.Label2->toolTip().contains(QString::fromStdString(locked)))
        << window.Label2->toolTip().toStdString();
    EXPECT_TRUE(window.Label2->toolTip().contains(QStringLiteral("dialout")));
}

}  // namespace
}  // namespace qrb

namespace qrb {
namespace {

// Answers the Configure dialog once it is the active modal window.
class ConfigureAnswer {
  public:
    // port: the port to choose before OK; 0 answers Cancel.
    explicit ConfigureAnswer(int port) : port_(port) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(5);
    }
    bool seen = false;

  private:
    void poll() {
        auto* dialog = qobject_cast<TfrmConfig*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible() || seen) {
            return;
        }
        seen = true;
        if (port_ == 0) {
            dialog->btnCancel->click();
            return;
        }
        const int item =
            dialog->cmbCom->findText(QStringLiteral("COM%1").arg(port_), Qt::MatchStartsWith);
        dialog->cmbCom->setCurrentIndex(item);
        dialog->btnOk->click();
    }
    int port_;
    QTimer timer_;
};

TEST(MainWindowConfigure, OkShowsThePortAndEitherAnswerWritesTheSettingsFile) {
    test::ScopedCurrentFolder folder;
    const QByteArray saved = qgetenv("QRB117_COMPORTS");
    qputenv("QRB117_COMPORTS", QByteArray("COM57=") + QFile::encodeName(folder.path()));
    folder.write("QRB117.ini", "2");
    TfrmMain window;
    window.cmbBRT->setCurrentIndex(0);
    window.State().ComBitRate = 19200;  // shown as it stands; the dialog does not change it
    {
        const ConfigureAnswer ok(57);
        window.btnConfigClick();
        ASSERT_TRUE(ok.seen);
    }
    EXPECT_EQ(window.State().ComPortNumber, 57);
    EXPECT_EQ(window.Label2->text(), QStringLiteral("COM Port:COM57"));
    EXPECT_EQ(window.cmbBRT->currentText(), QStringLiteral("19200"));
    QFile settings(folder.path() + "/QRB117.ini");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), QByteArray("57"));
    settings.close();

    folder.write("QRB117.ini", "99");
    window.Label2->setText(QStringLiteral("unchanged"));
    {
        const ConfigureAnswer cancel(0);
        window.btnConfigClick();
        ASSERT_TRUE(cancel.seen);
    }
    EXPECT_EQ(window.Label2->text(), QStringLiteral("unchanged"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), QByteArray("57")) << "Cancel writes the unchanged port";
    qputenv("QRB117_COMPORTS", saved);
}

}  // namespace
}  // namespace qrb
