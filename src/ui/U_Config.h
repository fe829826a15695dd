// The Configure dialog: the person picks the COM port the radio is on. The
// list comes from the COM port list; the bit rate is shown but fixed at
// 38400 bit/s. OK stores the chosen port number in the shared state; the
// caller writes the settings file afterwards.
#pragma once

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

#include "serial/RegistryReader.h"
#include "writing/SharedState.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace qrb {

class TfrmConfig : public QDialog {
    Q_OBJECT
  public:
    // Modal results, as exec() returns them.
    static constexpr int kModalResultOk = 1;
    static constexpr int kModalResultCancel = 2;

    // errno of opening a device for reading and writing, 0 when it would open.
    using PortAccessCheck = std::function<int(const std::string& devicePath)>;

    // Lists the ports of the machine (sysfs and QRB117_COMPORTS).
    explicit TfrmConfig(SharedState& state, QWidget* parent = nullptr);
    // Lists the ports of `registry`; `accessCheck` decides which ports get the
    // permission hint.
    TfrmConfig(SharedState& state, RegistryReader& registry, QWidget* parent = nullptr,
               PortAccessCheck accessCheck = {});

    // --- Handlers ---
    void FormCreate(RegistryReader& registry);
    void btnOkClick();
    void btnCancelClick();
    // True when the key was handled here and must not reach the control.
    bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);

    // Every way of closing without OK (Escape, the title bar) ends as Cancel.
    void reject() override;

    // --- Controls ---
    QFrame* Panel1 = nullptr;
    QLabel* Panel2 = nullptr;
    QComboBox* cmbCom = nullptr;
    QGroupBox* gboxBaudRate = nullptr;
    QRadioButton* rbtn04800bps = nullptr;
    QRadioButton* rbtn09600bps = nullptr;
    QRadioButton* rbtn19200bps = nullptr;
    QRadioButton* rbtn38400bps = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Create(RegistryReader& registry);
    void CreateControls();
    void SetTabOrder();
    void SeeKeysFirst();
    void FitOuterSize();
    void CentreOnParent();
    void ShowPortAccessHint();

    SharedState& state_;
    PortAccessCheck accessCheck_;
    int designedClientHeight_ = 0;  // the client height the bottom anchors keep to
    bool placed_ = false;
};

// The port number an item of the port list stands for: its characters 4 to 7
// (fewer when the item is shorter), blanks trimmed, read by the settings
// file's integer rules. Empty when that is not an integer.
std::optional<int> PortNumberOfListItem(const QString& item);

}  // namespace qrb
