#include "cli/ProgressDisplay.h"

#include <algorithm>
#include <cmath>

namespace qrb::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

ProgressDisplay::ProgressDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

void ProgressDisplay::begin(const std::string& phase, int total) {
    finish();
    phase_ = phase;
    total_ = std::max(total, 0);
    lastTenth_ = -1;
    active_ = true;
    started_ = std::chrono::steady_clock::now();
    lastDraw_ = {};
}

void ProgressDisplay::update(int done) {
    if (!active_) {
        return;
    }
    const double fraction = total_ <= 0 ? 1.0 : std::clamp(double(done) / double(total_), 0.0, 1.0);
    if (terminal_) {
        const auto now = std::chrono::steady_clock::now();
        if (fraction < 1.0 && now - lastDraw_ < kRedrawInterval) {
            return;
        }
        lastDraw_ = now;
        drawBar(fraction);
        return;
    }
    const int tenth = static_cast<int>(fraction * 10.0);
    if (tenth != lastTenth_) {
        lastTenth_ = tenth;
        std::fprintf(out_, "%s: %d%%\n", phase_.c_str(), tenth * 10);
        std::fflush(out_);
    }
}

void ProgressDisplay::drawBar(double fraction) {
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::string remaining = "--:--";
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (fraction > 0.01) {
        const int seconds = static_cast<int>(std::lround(elapsed * (1.0 - fraction) / fraction));
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60, seconds % 60);
        remaining = text;
    }
    std::fprintf(out_, "\r%-22s [%s] %3d%%  %s left ", phase_.c_str(), bar.c_str(),
                 static_cast<int>(fraction * 100.0), remaining.c_str());
    std::fflush(out_);
}

void ProgressDisplay::finish() {
    if (active_ && terminal_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    active_ = false;
}

}  // namespace qrb::cli
