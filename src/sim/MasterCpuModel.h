// The Master CPU ("PANEL") as seen from the serial line.
//
//   E1 01 E2                      -> 06, 8 bytes, 2 version bytes, trailing sum
//   E0 83 hi lo, 128 bytes, sum   -> 06 E0 83 hi lo s      (block stored)
//     (trailing sum)              -> 15 hi lo code s       (refused; code >= 8
//                                                            lets the PC resend)
// Memory: 256 KiB, FF at the start, block i at 128 * i. frames() lists every
// frame in the order it came. A frame with a wrong check byte is refused with
// kCodeBadCheck and recorded as a violation; a block number beyond the
// memory is refused with kCodeBadBlock.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/RadioModel.h"

namespace qrb::sim {

struct MasterFaults : CommonFaults {
    std::vector<FrameRefusal> refusals;
    bool refuseVersion = false;  // E1 01 E2 answered 15 and three bytes
};

class MasterCpuModel : public RadioModel {
  public:
    static constexpr std::size_t kMemorySize = 0x40000;
    static constexpr std::size_t kBlockSize = 128;
    static constexpr std::uint8_t kCodeBadCheck = 0x11;
    static constexpr std::uint8_t kCodeBadBlock = 0x02;

    explicit MasterCpuModel(RadioConfig config = {}, MasterFaults faults = {});

    MasterFaults& faults() { return faults_; }
    const std::vector<std::uint8_t>& memory() const { return memory_; }
    // 32-bit sum of the memory bytes.
    std::uint32_t memorySum() const;
    const std::vector<FrameRecord>& frames() const { return frames_; }
    // Block numbers of the accepted frames, in order.
    std::vector<std::uint32_t> acceptedBlocks() const;

  protected:
    int commandLength(const std::vector<std::uint8_t>& prefix) const override;
    void handleCommand(const std::vector<std::uint8_t>& command, Micros at) override;
    void resetSession() override;
    const CommonFaults& commonFaults() const override { return faults_; }

  private:
    void handleVersion(const std::vector<std::uint8_t>& command, Micros at);
    void handleFrame(const std::vector<std::uint8_t>& frame, Micros at);
    bool refuseNow(int ordinal, std::uint8_t& code);

    MasterFaults faults_;
    std::vector<std::uint8_t> memory_;
    std::vector<FrameRecord> frames_;
    std::vector<int> refusalsUsed_;
    int sessionFramesAccepted_ = 0;
};

}  // namespace qrb::sim
