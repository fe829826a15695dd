// The write dialog and the window side of a write run, against the radio
// model in virtual time: WRITE opens the dialog, the run shows its progress,
// lamp, texts and boxes in the main window, and the dialog goes when the run
// is over (or stays after a file error until Cancel).
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>

#include "GuiTestSupport.h"
#include "sim/MasterCpuModel.h"
#include "sim/VirtualLine.h"
#include "ui/U_WriteDialog.h"
#include "ui/fw.h"

namespace qrb {
namespace {

using sim::Micros;
using test::BoxWatcher;
using test::ScopedCurrentFolder;
using test::SeenBox;

const QString kFailureText = QStringLiteral(
    "No acknowledgement from the radio.  Please do the following procedure again.\r\n"
    "1. Turn off the radio.\r\n"
    "2. Connect the radio and PC via UIA-40 or UIA-42 with LC-508B.\r\n"
    "3. Turn on the radio.\r\n"
    "4. Click on the OK button on the screen.");
const QString kCompletionText = QStringLiteral(
    "\r\nThe writing procedure is completed.  To terminate the writing procedure, follow the "
    "steps below.\r\n1. Click on the OK button on the screen.\r\n2. Turn off the radio.\r\n"
    "3. Remove a LC-508B from the radio.");

// One S2 record of the firmware file.
std::string S2Record(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    const unsigned count = 3 + static_cast<unsigned>(data.size()) + 1;
    unsigned sum = count + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
    char text[16];
    std::snprintf(text, sizeof text, "S2%02X%06X", count, address);
    std::string line = text;
    for (std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X\r\n", ~sum & 0xFF);
    return line + text;
}

QString LampShown(const TfrmMain& w) {
    if (!w.imgRed->isHidden())
        return QStringLiteral("red");
    if (!w.imgYellow->isHidden())
        return QStringLiteral("yellow");
    return w.imgGreen->isHidden() ? QString() : QStringLiteral("green");
}

// What the dialog and the window looked like at one moment of the run.
struct Snapshot {
    bool dialogShown = false;
    QString caption;
    QPoint position;
    QSize size;
    QString dialogLabel;
    QString instruction;
    QString lamp;
};

class WriteDialogTest : public ::testing::Test {
  protected:
    static constexpr const char* kFileName = "TN508001_M_V0101.SFL";

    void SetUp() override {
        folder_.write("QRB117.ini", "4");
        // Data in the first block, across a block border and at the end.
        std::string text = "Master CPU test firmware\r\nS00600004844521B\r\n";
        const std::vector<std::pair<std::uint32_t, std::size_t>> runs = {
            {0x000000, 32}, {0x00A070, 32}, {0x03FFF0, 16}};
        image_.assign(sim::MasterCpuModel::kMemorySize, 0xFF);
        for (const auto& [address, length] : runs) {
            std::vector<std::uint8_t> data;
            for (std::size_t k = 0; k < length; ++k) {
                data.push_back(static_cast<std::uint8_t>((address + k) * 13 + 1));
                image_[address + k] = data.back();
            }
            text += S2Record(address, data);
        }
        folder_.write(kFileName, text + "S804000000FB\r\n");

        window_ = std::make_unique<TfrmMain>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_EQ(window_->State().SelectedFileName, kFileName);
        ASSERT_TRUE(window_->btnWRITE->isEnabled());
        window_->MakeWriteLine = [this] {
            auto line = std::make_unique<sim::VirtualLine>(radio_, lineOptions_);
            line_ = line.get();
            line->at(Micros{1}, [this] { early_ = snapshot(); });
            return line;
        };
    }

    TfrmMsg* dialog() const { return window_->findChild<TfrmMsg*>(); }

    Snapshot snapshot() const {
        Snapshot s;
        if (TfrmMsg* d = dialog()) {
            s.dialogShown = d->isVisible();
            s.caption = d->windowTitle();
            s.position = d->pos();
            s.size = d->size();
            s.dialogLabel = d->Label1->text();
        }
        s.instruction = window_->InstructionText();
        s.lamp = LampShown(*window_);
        return s;
    }

    void pressWrite() { QTest::mouseClick(window_->btnWRITE, Qt::LeftButton); }

    // The dialog on screen and the one modal window: the main window takes
    // no input.
    bool dialogHoldsTheModalState() const {
        return dialog() != nullptr && dialog()->isVisible() &&
               QApplication::activeModalWidget() == dialog();
    }
    // Clicks WRITE as the window system would deliver it, so that a modal
    // dialog can hold it back.
    void clickWriteThroughTheWindow() {
        const QPoint at =
            window_->btnWRITE->mapTo(window_.get(), window_->btnWRITE->rect().center());
        QTest::mouseClick(window_->windowHandle(), Qt::LeftButton, {}, at);
    }
    // Runs action at the first 10 ms step of virtual time where condition holds.
    void when(std::function<bool()> condition, std::function<void()> action) {
        line_->after(Micros{10'000}, [this, condition, action] {
            if (condition()) {
                action();
            } else {
                when(condition, action);
            }
        });
    }

    ScopedCurrentFolder folder_;
    std::vector<std::uint8_t> image_;
    sim::MasterCpuModel radio_;
    sim::VirtualLineOptions lineOptions_;
    sim::VirtualLine* line_ = nullptr;  // owned by the dialog while it lives
    Snapshot early_;
    std::function<void()> cancelCheck_;
    std::unique_ptr<TfrmMain> window_;
};

TEST_F(WriteDialogTest, ACompleteMasterCpuWrite) {
    Snapshot atConfirmation;
    const BoxWatcher watcher([&](const SeenBox&) {
        atConfirmation = snapshot();
        return QMessageBox::Ok;
    });
    pressWrite();

    EXPECT_TRUE(early_.dialogShown);
    EXPECT_EQ(early_.caption, QStringLiteral("Firmware Update"));
    EXPECT_EQ(early_.position, window_->pos() + QPoint(150, 150));
    EXPECT_EQ(early_.size, QSize(186, 94));
    EXPECT_EQ(early_.dialogLabel, QStringLiteral("Now writing..."));
    EXPECT_EQ(early_.instruction, QStringLiteral("Now writing..."));
    EXPECT_EQ(early_.lamp, QStringLiteral("red"));

    ASSERT_EQ(watcher.boxes().size(), 1u);
    const SeenBox& box = watcher.boxes()[0];
    EXPECT_EQ(box.text, QStringLiteral("Ok ?"));
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box.position, window_->pos() + QPoint(200, 150));
    EXPECT_FALSE(atConfirmation.dialogShown) << "hidden while the completion is shown";
    EXPECT_EQ(atConfirmation.lamp, QStringLiteral("green"));

    EXPECT_EQ(radio_.memory(), image_);
    EXPECT_TRUE(radio_.violationTexts().empty());
    const QString text = window_->InstructionText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("CHECKSUM\r\n        "))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(kCompletionText));
    EXPECT_EQ(window_->Label5->text(), QStringLiteral("0100"));
    EXPECT_TRUE(window_->ProgressBar1->isHidden());
    EXPECT_TRUE(window_->ProgressBar2->isHidden());
    EXPECT_EQ(LampShown(*window_), QStringLiteral("green"));
    EXPECT_TRUE(window_->State().StopRequested);
    EXPECT_EQ(window_->State().ComBitRate, 38400);
    EXPECT_EQ(dialog(), nullptr) << "the dialog is destroyed when it closes";
}

TEST_F(WriteDialogTest, AnUnopenablePortAsksAndRetriesUntilCancel) {
    lineOptions_.failOpen = true;
    std::vector<Snapshot> atBoxes;
    const BoxWatcher watcher([&](const SeenBox&) {
        atBoxes.push_back(snapshot());
        return atBoxes.size() == 1 ? QMessageBox::Ok : QMessageBox::Cancel;
    });
    pressWrite();

    ASSERT_EQ(watcher.boxes().size(), 2u);
    for (const SeenBox& box : watcher.boxes()) {
        EXPECT_EQ(box.text, QStringLiteral("Problem on COM port"));
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.position, window_->pos() + QPoint(150, 150));
    }
    for (const Snapshot& s : atBoxes) {
        EXPECT_EQ(s.lamp, QStringLiteral("yellow"));
        EXPECT_EQ(s.instruction, kFailureText);
        EXPECT_TRUE(s.dialogShown) << "a failed handshake leaves the dialog on screen";
    }
    EXPECT_EQ(LampShown(*window_), QStringLiteral("green"));
    EXPECT_EQ(window_->InstructionText(), kFailureText);
    EXPECT_TRUE(window_->State().StopRequested);
    EXPECT_EQ(dialog(), nullptr);
}

TEST_F(WriteDialogTest, ClosingOkWithoutOkCountsAsAFailedAttempt) {
    const BoxWatcher watcher([](const SeenBox& box) {
        // Close "Ok ?" through its window, then end the run.
        return box.text == QStringLiteral("Ok ?") ? QMessageBox::NoButton : QMessageBox::Cancel;
    });
    pressWrite();
    ASSERT_EQ(watcher.boxes().size(), 2u);
    EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("Ok ?"));
    EXPECT_EQ(watcher.boxes()[1].text, QStringLiteral("Problem on COM port"));
    EXPECT_EQ(window_->InstructionText(), kFailureText);
    EXPECT_EQ(dialog(), nullptr);
}

TEST_F(WriteDialogTest, CancelOrEscapeDuringTheTransferEndsTheRunQuietly) {
    for (const bool byEscape : {false, true}) {
        const BoxWatcher watcher;
        const std::size_t framesBefore = radio_.frames().size();
        std::size_t framesAtCancel = 0;
        window_->MakeWriteLine = [this, byEscape, framesBefore, &framesAtCancel] {
            auto line = std::make_unique<sim::VirtualLine>(radio_, lineOptions_);
            line_ = line.get();
            // Press Cancel once a hundred frames have gone out.
            cancelCheck_ = [this, byEscape, framesBefore, &framesAtCancel] {
                if (radio_.frames().size() < framesBefore + 100) {
                    line_->after(Micros{10'000}, cancelCheck_);
                    return;
                }
                early_ = snapshot();
                if (byEscape) {
                    QTest::keyClick(dialog(), Qt::Key_Escape);
                } else {
                    dialog()->btnWCancel->click();
                }
                framesAtCancel = radio_.frames().size();
            };
            line->after(Micros{10'000}, cancelCheck_);
            return line;
        };
        pressWrite();
        EXPECT_TRUE(watcher.boxes().empty())
            << "Cancel during a transfer asks nothing; " << byEscape << " "
            << (watcher.boxes().empty() ? "" : watcher.boxes()[0].text.toStdString());
        EXPECT_EQ(early_.lamp, QStringLiteral("red"));
        EXPECT_EQ(radio_.frames().size(), framesAtCancel) << "the transfer went on";
        EXPECT_EQ(LampShown(*window_), QStringLiteral("green"));
        EXPECT_TRUE(window_->ProgressBar1->isHidden());
        EXPECT_TRUE(window_->State().StopRequested);
        EXPECT_EQ(dialog(), nullptr) << (byEscape ? "Escape" : "Cancel");
    }
}

// Cancel during the version read is lost: the transfer clears it and goes on.
// The dialog stays on screen and modal until the run has returned, so the
// main window cannot start a second write meanwhile.
TEST_F(WriteDialogTest, ALostCancelKeepsTheDialogModalUntilTheRunReturns) {
    radio_.faults().slow = sim::AnswerSelector{sim::Step::MasterVersion, 0, 1};
    int writesStarted = 0;
    bool modalAfterCancel = false;
    bool modalDuringTransfer = false;
    window_->MakeWriteLine = [&]() -> std::unique_ptr<Line> {
        if (++writesStarted > 1)
            throw std::runtime_error("a second write inside the running one");
        auto line = std::make_unique<sim::VirtualLine>(radio_, lineOptions_);
        line_ = line.get();
        // A0, the identification command and E1 01 E2 are out: the version read.
        when([this] { return line_->counters().bytesSent == 8 && radio_.frames().empty(); },
             [&] {
                 dialog()->btnWCancel->click();
                 modalAfterCancel = dialogHoldsTheModalState();
             });
        when([this] { return radio_.frames().size() >= 100; },
             [&] {
                 modalDuringTransfer = dialogHoldsTheModalState();
                 clickWriteThroughTheWindow();
             });
        return line;
    };
    const BoxWatcher watcher;
    pressWrite();

    EXPECT_TRUE(modalAfterCancel);
    EXPECT_TRUE(modalDuringTransfer);
    EXPECT_EQ(writesStarted, 1);
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("Ok ?"));
    EXPECT_EQ(radio_.frames().size(), 1953u);
    EXPECT_EQ(radio_.memory(), image_);
    EXPECT_TRUE(radio_.violationTexts().empty());
    EXPECT_EQ(dialog(), nullptr);
}

TEST_F(WriteDialogTest, AFileErrorIsReportedAndTheDialogStaysUntilCancel) {
    ASSERT_EQ(std::remove(folder_.file(kFileName).c_str()), 0);
    bool shownAfterError = false;
    const BoxWatcher watcher([&](const SeenBox&) {
        // Once the run has returned, the dialog is still there to be cancelled.
        QTimer::singleShot(50, [&] {
            TfrmMsg* d = dialog();
            shownAfterError = d != nullptr && d->isVisible();
            if (d != nullptr) {
                d->btnWCancel->click();
            }
        });
        return QMessageBox::Ok;
    });
    pressWrite();
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].title, QStringLiteral("QRB117 for RQ-7300"));
    EXPECT_TRUE(watcher.boxes()[0].text.contains(QString::fromLatin1(kFileName)))
        << watcher.boxes()[0].text.toStdString();
    EXPECT_TRUE(shownAfterError);
    EXPECT_EQ(LampShown(*window_), QStringLiteral("green"));
    EXPECT_TRUE(radio_.frames().empty()) << "no frame of a file that cannot be read";
    EXPECT_EQ(dialog(), nullptr);
}

}  // namespace
}  // namespace qrb
