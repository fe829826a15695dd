// The Slave CPU ("DSP  ") as seen from the serial line.
//
//   66                       -> 76 02 v1 v2 c (zero sum), then the PC's 06
//   48                       -> 06  (erase selected; lines may follow)
//   50 00 L, L chars, c      -> 06  (zero sum; the line is kept)
//   50 FF FF FF FF B4        -> 06  (end of the lines)
// lines() holds the text of every accepted line frame in order. A frame
// with a wrong check byte, or a line before 48, is answered 15 and recorded
// as a violation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/RadioModel.h"

namespace qrb::sim {

struct SlaveFaults : CommonFaults {
    std::vector<FrameRefusal> refusals;  // line frames answered 15
    bool refuseSelectErase = false;      // 48 answered 15
    bool refuseEndFrame = false;         // EndFrame answered 15
};

class SlaveCpuModel : public RadioModel {
  public:
    explicit SlaveCpuModel(RadioConfig config = {}, SlaveFaults faults = {});

    SlaveFaults& faults() { return faults_; }
    const std::vector<std::string>& lines() const { return lines_; }
    const std::vector<FrameRecord>& frames() const { return frames_; }
    bool eraseSelected() const { return eraseSelected_; }
    bool endFrameReceived() const { return endFrames_ > 0; }

  protected:
    int commandLength(const std::vector<std::uint8_t>& prefix) const override;
    void handleCommand(const std::vector<std::uint8_t>& command, Micros at) override;
    void resetSession() override;
    const CommonFaults& commonFaults() const override { return faults_; }

  private:
    void handleLineFrame(const std::vector<std::uint8_t>& frame, Micros at);
    void handleEndFrame(const std::vector<std::uint8_t>& frame, Micros at);
    bool refuseNow(int ordinal);

    SlaveFaults faults_;
    std::vector<std::string> lines_;
    std::vector<FrameRecord> frames_;
    std::vector<int> refusalsUsed_;
    bool eraseSelected_ = false;
    int sessionLinesAccepted_ = 0;
    int endFrames_ = 0;
};

}  // namespace qrb::sim
