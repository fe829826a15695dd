#include "ui/U_Config.h"

#include "ui/LookAlikeFonts.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <cerrno>
#include <exception>
#include <vector>

#include "firmware/SettingsFile.h"
#include "serial/ComPortNames.h"
#include "serial/U_ComRS.h"
#include "ui/ComProbe.h"
#include "ui/DefaultErrorBox.h"

namespace qrb {

namespace {

// Outer size of the window, frame and title bar included.
constexpr int kOuterWidth = 328;
constexpr int kOuterHeight = 277;
constexpr int kFontPixelSize = 11;

constexpr QRect kPanel2Geometry(26, 26, 105, 21);
constexpr QRect kCmbComGeometry(138, 26, 145, 21);
constexpr QRect kBaudRateGeometry(24, 66, 157, 153);
constexpr QRect kBtnOkGeometry(206, 152, 75, 25);
constexpr QRect kBtnCancelGeometry(206, 196, 75, 25);

// Radio buttons of the bit-rate group, in the group's coordinates.
struct BitRateButton {
    const char* objectName;
    const char* caption;
    QRect geometry;
};
constexpr BitRateButton kBitRateButtons[] = {
    {"rbtn04800bps", "  4800 bps (&A)", QRect(28, 28, 90, 17)},
    {"rbtn09600bps", "  9600 bps (&B)", QRect(28, 58, 90, 17)},
    {"rbtn19200bps", "19200 bps (&C)", QRect(28, 88, 90, 17)},
    {"rbtn38400bps", "38400 bps (&D)", QRect(28, 119, 90, 17)},
};

template <typename Widget>
Widget* Make(QWidget* parent, const char* objectName, const QRect& geometry) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setGeometry(geometry);
    return widget;
}

}  // namespace

std::optional<int> PortNumberOfListItem(const QString& item) {
    const QString digits = item.mid(3, 4).trimmed();
    return ParseSettingsInteger(digits.toStdString());
}

TfrmConfig::TfrmConfig(SharedState& state, QWidget* parent)
    : QDialog(parent), state_(state), accessCheck_(ComPortAccessError) {
    const std::unique_ptr<RegistryReader> registry = MakeSystemRegistry();
    Create(*registry);
}

TfrmConfig::TfrmConfig(SharedState& state, RegistryReader& registry, QWidget* parent,
                       PortAccessCheck accessCheck)
    : QDialog(parent),
      state_(state),
      accessCheck_(accessCheck ? std::move(accessCheck) : PortAccessCheck(ComPortAccessError)) {
    Create(registry);
}

void TfrmConfig::Create(RegistryReader& registry) {
    RegisterLookAlikeFonts();
    CreateControls();
    // A failing port list still leaves a usable dialog, as with any error of
    // a creation handler: the person is told and goes on.
    try {
        FormCreate(registry);
    } catch (...) {
        ShowDefaultErrorBox(std::current_exception());
    }
}

void TfrmConfig::CreateControls() {
    setObjectName(QStringLiteral("frmConfig"));
    setWindowTitle(QStringLiteral("Configure"));
    // A sizeable border with the system menu (close) only, no minimise or
    // maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(kFontPixelSize);
    setFont(font);
    resize(kOuterWidth, kOuterHeight);
    designedClientHeight_ = kOuterHeight;

    Panel1 = Make<QFrame>(this, "Panel1", rect());
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    Panel2 = Make<QLabel>(Panel1, "Panel2", kPanel2Geometry);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setText(QStringLiteral("  Com &Port"));
    Panel2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    cmbCom = Make<QComboBox>(Panel1, "cmbCom", kCmbComGeometry);
    cmbCom->setEditable(false);
    Panel2->setBuddy(cmbCom);

    gboxBaudRate = Make<QGroupBox>(Panel1, "gboxBaudRate", kBaudRateGeometry);
    gboxBaudRate->setTitle(QStringLiteral("BaudRate"));
    QRadioButton* const buttons[] = {
        rbtn04800bps = Make<QRadioButton>(gboxBaudRate, kBitRateButtons[0].objectName,
                                          kBitRateButtons[0].geometry),
        rbtn09600bps = Make<QRadioButton>(gboxBaudRate, kBitRateButtons[1].objectName,
                                          kBitRateButtons[1].geometry),
        rbtn19200bps = Make<QRadioButton>(gboxBaudRate, kBitRateButtons[2].objectName,
                                          kBitRateButtons[2].geometry),
        rbtn38400bps = Make<QRadioButton>(gboxBaudRate, kBitRateButtons[3].objectName,
                                          kBitRateButtons[3].geometry),
    };
    for (std::size_t i = 0; i < std::size(buttons); ++i) {
        buttons[i]->setText(QString::fromLatin1(kBitRateButtons[i].caption));
        buttons[i]->setEnabled(buttons[i] == rbtn38400bps);
    }
    rbtn38400bps->setChecked(true);

    btnOk = Make<QPushButton>(Panel1, "btnOk", kBtnOkGeometry);
    btnOk->setText(QStringLiteral("&Ok"));
    btnCancel = Make<QPushButton>(Panel1, "btnCancel", kBtnCancelGeometry);
    btnCancel->setText(QStringLiteral("Cancel"));

    connect(btnOk, &QPushButton::clicked, this, &TfrmConfig::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmConfig::btnCancelClick);
    connect(cmbCom, &QComboBox::currentIndexChanged, this, &TfrmConfig::ShowPortAccessHint);

    SetTabOrder();
    SeeKeysFirst();
    rbtn38400bps->setFocus();
}

void TfrmConfig::SetTabOrder() {
    Panel2->setFocusPolicy(Qt::NoFocus);
    gboxBaudRate->setFocusPolicy(Qt::NoFocus);
    setTabOrder(rbtn38400bps, btnOk);
    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, cmbCom);
}

// The form looks at every key before the control with the focus does.
void TfrmConfig::SeeKeysFirst() {
    installEventFilter(this);
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        child->installEventFilter(this);
    }
}

void TfrmConfig::FormCreate(RegistryReader& registry) {
    cmbCom->clear();
    std::vector<std::string> ports;
    try {
        ListComPorts(registry, ports);
    } catch (...) {
        for (const std::string& port : ports) {
            cmbCom->addItem(QString::fromStdString(port));
        }
        throw;
    }
    for (const std::string& port : ports) {
        cmbCom->addItem(QString::fromStdString(port));
    }

    const QString current = QStringLiteral("COM") + QString::number(state_.ComPortNumber);
    int selected = -1;
    for (int i = 0; i < cmbCom->count() && selected < 0; ++i) {
        if (cmbCom->itemText(i).contains(current)) {
            selected = i;
        }
    }
    if (selected < 0 && cmbCom->count() > 0) {
        selected = 0;
    }
    cmbCom->setCurrentIndex(selected);

    rbtn04800bps->setEnabled(false);
    rbtn09600bps->setEnabled(false);
    rbtn19200bps->setEnabled(false);
    rbtn38400bps->setEnabled(true);
    rbtn38400bps->setChecked(true);
    ShowPortAccessHint();
}

void TfrmConfig::btnOkClick() {
    if (cmbCom->currentIndex() < 0) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("COM port Setting Error"), QMessageBox::Ok, this);
        box.exec();
    } else if (const std::optional<int> port = PortNumberOfListItem(cmbCom->currentText())) {
        state_.ComPortNumber = *port;
    }
    done(kModalResultOk);
}

void TfrmConfig::btnCancelClick() {
    done(kModalResultCancel);
}

void TfrmConfig::reject() {
    btnCancelClick();
}

bool TfrmConfig::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::AltModifier) {
        if (key == Qt::Key_P && cmbCom->isEnabled()) {
            cmbCom->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
        return false;
    }
    if (key == Qt::Key_Escape) {
        btnCancelClick();
        return true;
    }
    return false;
}

bool TfrmConfig::eventFilter(QObject* watched, QEvent* event) {
    // An open drop-down list keeps its own keys (Escape closes the list).
    if (event->type() == QEvent::KeyPress && QApplication::activePopupWidget() == nullptr) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (FormKeyDown(key->key(), key->modifiers())) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!placed_) {
        placed_ = true;
        FitOuterSize();
        CentreOnParent();
    }
}

// Sizes the client area so that the whole window, frame included, has the
// designed outer size. Only possible where the platform reports the frame
// when the window is shown (offscreen, most X11 window managers after the
// first map); elsewhere the client area takes the whole outer size.
void TfrmConfig::FitOuterSize() {
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize client(kOuterWidth - frame.width(), kOuterHeight - frame.height());
    designedClientHeight_ = client.height();
    resize(client);
}

void TfrmConfig::CentreOnParent() {
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QRect area;
    if (owner != nullptr) {
        area = owner->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    } else {
        return;
    }
    const QSize outer = frameGeometry().size();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void TfrmConfig::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Panel1->setGeometry(rect());
    // The two buttons keep their distance from the bottom edge.
    const int shift = height() - designedClientHeight_;
    btnOk->move(kBtnOkGeometry.x(), kBtnOkGeometry.y() + shift);
    btnCancel->move(kBtnCancelGeometry.x(), kBtnCancelGeometry.y() + shift);
}

// A port the person may not open gets a tooltip that says why and what to do.
void TfrmConfig::ShowPortAccessHint() {
    QString hint;
    if (const std::optional<int> port = PortNumberOfListItem(cmbCom->currentText())) {
        const std::string devicePath = ComPortDevicePath(*port);
        if (!devicePath.empty() && IsPermissionError(accessCheck_(devicePath))) {
            hint = ComPortPermissionHint(devicePath);
        }
    }
    cmbCom->setToolTip(hint);
}

}  // namespace qrb
