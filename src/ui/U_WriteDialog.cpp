#include "ui/U_WriteDialog.h"

#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "ui/DefaultErrorBox.h"
#include "ui/GuiWriteHost.h"
#include "ui/fw.h"
#include "writing/RadioQRB.h"

namespace qrb {

namespace {
constexpr int kAutoStartDelayMs = 100;
}  // namespace

TfrmMsg::TfrmMsg(TfrmMain& frmMain, std::unique_ptr<Line> line)
    : QDialog(&frmMain, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      frmMain_(frmMain),
      line_(std::move(line)),
      host_(std::make_unique<GuiWriteHost>(frmMain, *this)),
      run_(std::make_unique<WriteRun>(*line_, *host_, frmMain.State())) {
    setFixedSize(186, 94);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    setFont(font);

    Label1 = new QLabel(QStringLiteral("Now writing..."), this);
    Label1->setGeometry(8, 20, 170, 15);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setWordWrap(false);
    btnWCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnWCancel->setGeometry(56, 52, 75, 25);
    connect(btnWCancel, &QPushButton::clicked, this, Reported([this] { btnWCancelClick(); }));

    tmrAutoStartButton = new QTimer(this);
    tmrAutoStartButton->setInterval(kAutoStartDelayMs);
    connect(tmrAutoStartButton, &QTimer::timeout, this,
            Reported([this] { tmrAutoStartButtonTimer(); }));

    FormCreate();
}

// The run is gone before its line: the line closes the port when it goes.
TfrmMsg::~TfrmMsg() {
    run_.reset();
    host_.reset();
    line_.reset();
}

void TfrmMsg::FormCreate() {
    move(frmMain_.pos() + QPoint(150, 150));
    tmrAutoStartButton->start();
}

int TfrmMsg::ShowModal() {
    modalResult_ = 0;
    setWindowModality(Qt::ApplicationModal);
    show();
    QEventLoop loop;
    modalLoop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
    hide();
    return modalResult_;
}

void TfrmMsg::CloseDialog() {
    modalResult_ = kModalResultCancel;
    // Hiding a modal dialog would hand the main window back while the run
    // still talks to the radio.
    if (runInProgress_) {
        closePending_ = true;
        return;
    }
    EndModal();
}

void TfrmMsg::EndModal() {
    hide();
    if (modalLoop_ != nullptr) {
        modalLoop_->exit();
    }
}

void TfrmMsg::tmrAutoStartButtonTimer() {
    tmrAutoStartButton->stop();  // the run starts exactly once
    runInProgress_ = true;
    try {
        run_->RunWrite();
    } catch (...) {
        RunFinished();
        throw;
    }
    RunFinished();
}

// The running handler returns: a close made meanwhile takes effect now.
void TfrmMsg::RunFinished() {
    runInProgress_ = false;
    if (closePending_) {
        closePending_ = false;
        EndModal();
    }
}

void TfrmMsg::btnWCancelClick() {
    run_->btnWCancelClick();
}

void TfrmMsg::reject() {
    btnWCancelClick();
}

}  // namespace qrb
