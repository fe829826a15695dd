// Prints one line per measurement: "name: value unit (target ...)". Each
// value is the best of several runs on files made in a temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "firmware/FileCatalogue.h"
#include "firmware/SflEncoder.h"
#include "firmware/SrecImage.h"

namespace {

namespace fs = std::filesystem;

struct Timing {
    double wallMs = 1e300;  // best of the runs
    double cpuMs = 1e300;   // processor time of this process, best of the runs
};

double cpuNowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Best of several runs: the machine may be busy with other work, which only
// ever adds time.
Timing measure(int runs, const std::function<void()>& work) {
    Timing best;
    for (int i = 0; i < runs; ++i) {
        const double cpuStart = cpuNowMs();
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best.wallMs = std::min(best.wallMs, took.count());
        best.cpuMs = std::min(best.cpuMs, cpuNowMs() - cpuStart);
    }
    return best;
}

// A full 256 KiB Master CPU file in 16-byte S2 records (about 750 KB).
void writeMasterFile(const std::string& path) {
    std::mt19937 random(1);
    std::ofstream out(path, std::ios::binary);
    out << "RQ-7300 MASTER CPU FIRMWARE\r\nS0030000FC\r\n";
    char line[64];
    for (unsigned address = 0; address < qrb::kMasterImageSize; address += 16) {
        int n = std::snprintf(line, sizeof line, "S214%06X", address);
        for (int k = 0; k < 16; ++k) {
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X",
                               static_cast<unsigned>(random() & 0xFF));
        }
        out << line << "00\r\n";
    }
    out << "S804000000FB\r\n";
}

void report(const char* name, const Timing& t, const char* target) {
    std::printf("%s: %.2f ms (target %s)\n", name, t.wallMs, target);
    std::printf("%s, processor time: %.2f ms (target %s)\n", name, t.cpuMs, target);
}

}  // namespace

int main() {
    std::string base = (fs::temp_directory_path() / "qrb-bench-XXXXXX").string();
    if (!::mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = base;

    const std::string plain = (dir / "TN508001_M_V0101.SFL").string();
    const std::string encoded = (dir / "TN508001_M_V0102.SFL").string();
    writeMasterFile(plain);
    qrb::EncodeSflFile(plain, encoded);
    int key = 0;
    report("master image build, plain file",
           measure(20, [&] { qrb::BuildSrecImage(plain, qrb::kMasterImageSize, key); }),
           "<= 20 ms");
    report("master image build, encoded file",
           measure(20, [&] { qrb::BuildSrecImage(encoded, qrb::kMasterImageSize, key); }),
           "<= 20 ms");

    // 10,000 matching files of the three targets, a few hundred distinct times.
    const fs::path folder = dir / "catalogue";
    fs::create_directory(folder);
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        switch (i % 3) {
            case 0:
                std::snprintf(name, sizeof name, "TN508%03d_M_V%04d.SFL", i % 1000, i);
                break;
            case 1:
                std::snprintf(name, sizeof name, "TN508%03d_S_V%04d.SFL", i % 1000, i);
                break;
            default:
                std::snprintf(name, sizeof name, "TQX37_V%04d.SFL", i);
                break;
        }
        const std::string path = (folder / name).string();
        std::ofstream(path) << "S0\r\n";
        const long long when = 1700000000LL + (i % 400) * 3601LL;
        const timespec times[2] = {{when, 0}, {when, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    qrb::FileCatalogue catalogue(folder.string());
    report("catalogue rebuild, 10000 files", measure(10, [&] { catalogue.Reload(); }), "<= 100 ms");
    if (catalogue.rows().size() != 10001) {
        std::fprintf(stderr, "catalogue listed %zu rows\n", catalogue.rows().size());
    }

    fs::remove_all(dir);
    return 0;
}
