// Helpers of the GUI tests: a temporary current folder with firmware files,
// and a watcher that answers the modal message boxes a window opens.
#pragma once

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>
#include <utime.h>

#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace qrb::test {

// A fresh temporary folder that is the current directory while it lives.
class ScopedCurrentFolder {
  public:
    ScopedCurrentFolder() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~ScopedCurrentFolder() { QDir::setCurrent(previous_); }
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

    QString path() const { return dir_.path(); }
    std::string file(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

    // Writes a file and sets its last-write time (seconds since the epoch).
    void write(const std::string& name, const std::string& content,
               long long mtime = 1600000000) const {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary) << content;
        const utimbuf times{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
        ::utime(path.c_str(), &times);
    }

  private:
    QString previous_;
    QTemporaryDir dir_;
};

// A Master CPU style firmware file: header lines, then an S0 record.
inline std::string FirmwareText(const std::vector<std::string>& headerLines) {
    std::string text;
    for (const std::string& line : headerLines) {
        text += line + "\r\n";
    }
    return text + "S00600004844521B\r\nS9030000FC\r\n";
}

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QPoint position;
};

// Answers every message box that becomes the active modal window: records
// it, then presses the button that `answer` picks (NoButton: closes the box
// through its window instead).
class BoxWatcher {
  public:
    using Answer = std::function<QMessageBox::StandardButton(const SeenBox&)>;

    explicit BoxWatcher(Answer answer = [](const SeenBox&) { return QMessageBox::Ok; })
        : answer_(std::move(answer)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    const std::vector<SeenBox>& boxes() const { return boxes_; }

  private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box == answered_) {
            return;
        }
        answered_ = box;
        SeenBox seen{box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                     box->pos()};
        boxes_.push_back(seen);
        const QMessageBox::StandardButton choice = answer_(seen);
        if (choice == QMessageBox::NoButton) {
            box->close();
        } else {
            box->button(choice)->click();
        }
    }

    Answer answer_;
    QTimer timer_;
    std::vector<SeenBox> boxes_;
    QPointer<QMessageBox> answered_;
};

}  // namespace qrb::test
