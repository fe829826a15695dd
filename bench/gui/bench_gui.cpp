// Start-up of the main window to a shown window (offscreen) in a folder of
// 1,000 firmware files: the file list built, sorted and shown, the first file
// selected and its header read. Prints one line:
//   "name: value unit (target ...)"
// The value is the median of several start-ups.
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/TApplication.h"
#include "ui/fw.h"

namespace {

constexpr int kFiles = 1000;
constexpr int kRuns = 7;
constexpr double kTargetMs = 300.0;

void WriteFolder(const QString& folder) {
    std::ofstream(QDir(folder).filePath("QRB117.ini").toStdString()) << "1";
    const char* patterns[] = {"TN508%03d_M_V%04d.SFL", "TN508%03d_S_V%04d.SFL", "TQX37_V%04d.SFL"};
    for (int i = 0; i < kFiles; ++i) {
        char name[64];
        const int kind = i % 3;
        if (kind == 2) {
            std::snprintf(name, sizeof name, patterns[kind], i);
        } else {
            std::snprintf(name, sizeof name, patterns[kind], i % 1000, i);
        }
        std::ofstream file(QDir(folder).filePath(QString::fromLatin1(name)).toStdString(),
                           std::ios::binary);
        file << "Firmware " << i << "\r\nfor the RQ-7300\r\nS00600004844521B\r\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qrb::TApplication application(argc, argv);
    QTemporaryDir folder;
    WriteFolder(folder.path());
    QDir::setCurrent(folder.path());

    std::vector<double> runs;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        auto window = std::make_unique<qrb::TfrmMain>();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            std::fprintf(stderr, "bench_gui: the window was not shown\n");
            return 1;
        }
        runs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(runs.begin(), runs.end());
    const double median = runs[runs.size() / 2];
    std::printf("gui start-up to shown window, %d files: %.1f ms (target <= %.0f ms)\n", kFiles,
                median, kTargetMs);
    return 0;
}
