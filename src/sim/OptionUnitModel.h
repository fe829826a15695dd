// The OLU-6 option unit as seen from the serial line: its identification
// and version, then its programming protocol.
//
//   66                          -> 76 02 v1 v2 c, then the PC's 06
//   27                          -> 27 02 00 80 c        (programming unit 0080)
//   10 04 30 31 30 31 2A        -> 06                   (device "0101")
//   11 01 00 EE                 -> 06                   (clock mode 0)
//   3F 07 00 30 06 90 01 01 01 F1 -> 06                 (bit rate)
//   06                          -> 06                   (bit rate confirmed)
//   40                          -> 06 after enterDelay  (programming state)
//   routine (4-byte length, body, zero sum) -> 06 after its last byte:
//     911 bytes after 40, 1255 after 48, 1353 after 43
//   4F                          -> 4F 02 00 status c    (boot status)
//   4D                          -> CD 52 (not blank) or 06 (blank)
//   48                          -> 06                   (erase selected)
//   58 01 n c                   -> 06 after eraseTime   (block n erased)
//   58 01 FF A8                 -> 06                   (erasing ended)
//   43                          -> 06                   (programming selected)
//   50 a3 a2 a1 a0, 128 bytes, c -> 06                  (block programmed)
//   50 FF FF FF FF B4           -> 06                   (programming ended)
//   4B                          -> 4B 04 s3 s2 s1 s0 c  (32-bit memory sum)
// All check bytes are zero sums. Memory: 128 KiB; erased cells read FF and
// programming only clears bits, as in flash. Erase blocks 0..9 cover the
// ranges of eraseBlockRange(). A non-blank unit starts with old firmware in
// blocks 2 to 8 (the blocks every write erases) unless initialMemory says
// otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/RadioModel.h"

namespace qrb::sim {

struct OptionUnitConfig : RadioConfig {
    bool blank = false;                                      // memory all FF at the start
    Micros enterDelay{1'200'000};                            // 40 until its 06
    Micros eraseTime{300'000};                               // 58 01 n c until its 06
    std::optional<std::vector<std::uint8_t>> initialMemory;  // 128 KiB
};

struct OptionUnitFaults : CommonFaults {
    std::vector<FrameRefusal> refusals;      // block frames answered 15
    std::uint16_t programmingUnit = 0x0080;  // the unit's answer to 27
    std::optional<std::uint8_t> enterError;  // 40 answered C0 and this code
    struct BootStatus {
        int occurrence = 0;  // which 4F (from 0, over the unit's life)
        std::uint8_t code = 0x01;
    };
    std::optional<BootStatus> bootStatusError;
    std::optional<std::uint8_t> checkBlankError;  // 4D answered CD and this code
    struct EraseError {
        int block = 2;
        std::uint8_t code = 0x51;  // D8 51 and D8 11 are the ones the PC tells apart
    };
    std::optional<EraseError> eraseError;
    bool refuseEndFrame = false;
};

class OptionUnitModel : public RadioModel {
  public:
    static constexpr std::size_t kMemorySize = 0x20000;
    static constexpr std::size_t kBlockSize = 128;
    static constexpr int kEraseBlocks = 10;
    static constexpr std::uint32_t kBaseRoutineLength = 911;
    static constexpr std::uint32_t kEraseRoutineLength = 1255;
    static constexpr std::uint32_t kProgramRoutineLength = 1353;

    explicit OptionUnitModel(OptionUnitConfig config = {}, OptionUnitFaults faults = {});

    // First and last address of erase block n (0..9).
    static std::pair<std::uint32_t, std::uint32_t> eraseBlockRange(int block);

    OptionUnitFaults& faults() { return faults_; }
    const OptionUnitConfig& optionConfig() const { return optionConfig_; }
    const std::vector<std::uint8_t>& memory() const { return memory_; }
    std::uint32_t memorySum() const;
    bool blank() const;
    const std::vector<FrameRecord>& frames() const { return frames_; }
    // Addresses of the accepted block frames, in order.
    std::vector<std::uint32_t> acceptedAddresses() const;
    // Erase commands carried out, in order (block numbers).
    const std::vector<int>& erasedBlocks() const { return erasedBlocks_; }
    // Length fields of the routines accepted, in order.
    const std::vector<std::uint32_t>& routinesLoaded() const { return routines_; }
    bool endFrameReceived() const { return endFrames_ > 0; }
    int checksumAnswers() const { return checksumAnswers_; }

  protected:
    int commandLength(const std::vector<std::uint8_t>& prefix) const override;
    void handleCommand(const std::vector<std::uint8_t>& command, Micros at) override;
    void resetSession() override;
    const CommonFaults& commonFaults() const override { return faults_; }

  private:
    enum class Phase : std::uint8_t {
        Parameters,    // 27, 10, 11, 3F, 06 (confirm), 40
        Programming,   // programming state: 4F, 4D, 48, 43, 4B
        Erasing,       // after the erase routine: 58 01 n c
        Transferring,  // after the programming routine: block frames
        Transferred,   // after EndFrame: 4F, 4B
    };
    // Which routine the unit takes next, if any.
    enum class Awaited : std::uint8_t { None, Base, Erase, Program };

    void handleParameter(const std::vector<std::uint8_t>& command, Micros at);
    void handleRoutine(const std::vector<std::uint8_t>& routine, Micros at);
    void handleErase(const std::vector<std::uint8_t>& command, Micros at);
    void handleFrame(const std::vector<std::uint8_t>& frame, Micros at);
    void handleEndFrame(const std::vector<std::uint8_t>& frame, Micros at);
    void acknowledge(Step step, Micros at, Micros delay = Micros{-1});
    void refuse(Step step, Micros at);
    bool refuseNow(int ordinal);

    OptionUnitConfig optionConfig_;
    OptionUnitFaults faults_;
    std::vector<std::uint8_t> memory_;
    std::vector<FrameRecord> frames_;
    std::vector<int> refusalsUsed_;
    std::vector<int> erasedBlocks_;
    std::vector<std::uint32_t> routines_;
    Phase phase_ = Phase::Parameters;
    Awaited awaited_ = Awaited::None;
    bool bitRateSelected_ = false;
    bool bitRateConfirmed_ = false;
    int sessionFramesAccepted_ = 0;
    int endFrames_ = 0;
    int checksumAnswers_ = 0;
    int bootStatusQueries_ = 0;
};

}  // namespace qrb::sim
