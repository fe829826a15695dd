// The instance guard between real processes: the program started twice, the
// second copy ends at once, silently, without reaching its window.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

namespace qrb {
namespace {

using namespace std::chrono_literals;

// True once /proc/locks shows process pid holding a flock on the file.
bool HoldsFlock(qint64 pid, const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return false;
    }
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray inode = ":" + QByteArray::number(static_cast<qulonglong>(info.st_ino)) + " ";
    const QByteArray owner = " " + QByteArray::number(pid) + " ";
    for (const QByteArray& line : locks.readAll().split('\n')) {
        if (line.contains("FLOCK") && line.contains(owner) && line.contains(inode)) {
            return true;
        }
    }
    return false;
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

class InstanceGuardProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runtime_.isValid());
        // A port that opens: a pseudo-terminal stands for COM1.
        ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(ptyMaster_, 0);
        ASSERT_EQ(::grantpt(ptyMaster_), 0);
        ASSERT_EQ(::unlockpt(ptyMaster_), 0);
        const char* slave = ::ptsname(ptyMaster_);
        ASSERT_NE(slave, nullptr);
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment_.insert(QStringLiteral("QRB117_COMPORTS"),
                            QStringLiteral("COM1=") + QString::fromLocal8Bit(slave));
    }
    void TearDown() override {
        for (QProcess* p : {&first_, &third_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        if (ptyMaster_ >= 0) {
            ::close(ptyMaster_);
        }
    }

    void start(QProcess& process, const QString& folder) {
        process.setProcessEnvironment(environment_);
        process.setWorkingDirectory(folder);
        process.start(QStringLiteral(QRB117_BINARY), {});
    }

    QString lockPath() const { return runtime_.filePath(QStringLiteral("QRB-117")); }

    QTemporaryDir runtime_;
    int ptyMaster_ = -1;
    QProcessEnvironment environment_;
    QProcess first_;
    QProcess third_;
};

TEST_F(InstanceGuardProcess, ASecondCopyEndsSilentlyWhileTheFirstRuns) {
    QTemporaryDir firstFolder;
    QTemporaryDir secondFolder;
    QFile settings(firstFolder.filePath(QStringLiteral("QRB117.ini")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("2");
    settings.close();

    start(first_, firstFolder.path());
    ASSERT_TRUE(first_.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return HoldsFlock(first_.processId(), lockPath()); }, 10s))
        << "the first copy never took the lock";

    // A copy that got as far as its window would find COM1 open and write
    // the settings file into its folder.
    QProcess second;
    second.setProcessEnvironment(environment_);
    second.setWorkingDirectory(secondFolder.path());
    QElapsedTimer clock;
    clock.start();
    second.start(QStringLiteral(QRB117_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(5000)) << "the second copy did not end";
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_FALSE(QFile::exists(secondFolder.filePath(QStringLiteral("QRB117.ini"))));
    EXPECT_EQ(first_.state(), QProcess::Running) << "the first copy keeps running";

    // Once the first copy has ended, the next start runs its start-up.
    first_.terminate();
    ASSERT_TRUE(first_.waitForFinished(5000));
    start(third_, secondFolder.path());
    ASSERT_TRUE(third_.waitForStarted(5000));
    EXPECT_TRUE(WaitFor(
        [&] { return QFile::exists(secondFolder.filePath(QStringLiteral("QRB117.ini"))); }, 10s))
        << "a copy started after the first ended did not run";
    EXPECT_EQ(third_.state(), QProcess::Running);
}

}  // namespace
}  // namespace qrb
