// Line settings of the serial component, shared by the component, its port
// backends and the write engine's line interface.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qrb {

enum class TCommParityBits : std::uint8_t { cpbNone = 0, cpbOdd = 1, cpbEven = 2 };
enum class TCommStopBits : std::uint8_t { csb1 = 0, csb1p5 = 1, csb2 = 2 };
enum class TCommFlowCtrls : std::uint8_t {
    cfcRtsCts = 0,
    cfcDtrDsr = 1,
    cfcXonXoff = 2,
    cfcHalfHigh = 3,
    cfcHalfLow = 4,
    cfcNone = 5,
};

// Failure of a port operation; carries only its message (UTF-8).
class ECommError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The texts of ECommError, one per failing port operation (UTF-8).
namespace CommErrorText {
inline constexpr const char* kAlreadyOpen = "ポートは、すでにオープンされています";
inline constexpr const char* kPortOpen = "Port Open Error";
inline constexpr const char* kTransmitThread = "送信用スレッドを生成できませんでした";
inline constexpr const char* kReceiveThread = "受信用スレッドを生成できませんでした";
inline constexpr const char* kBitRate = "通信速度の設定でエラーが発生しました";
inline constexpr const char* kCharSize = "通信ビット数の設定でエラーが発生しました";
inline constexpr const char* kParity = "通信パリティチェックの設定でエラーが発生しました";
inline constexpr const char* kStopBits = "通信ストップビット数の設定でエラーが発生しました";
inline constexpr const char* kFlowCtrl = "通信フロー制御の設定で失敗しました";
inline constexpr const char* kTimeOuts = "通信タイムアウト時間の設定で失敗しました";
inline constexpr const char* kXonChar = "Ｘｏｎ文字の設定でエラーが発生しました";
inline constexpr const char* kXoffChar = "Ｘｏｆｆ文字の設定でエラーが発生しました";
inline constexpr const char* kBuffers = "通信用ポートのバッファを準備できませんでした";
}  // namespace CommErrorText

}  // namespace qrb
