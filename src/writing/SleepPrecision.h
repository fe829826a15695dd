// The write protocols pause thousands of times for 2 to 4 ms (4 ms after
// every byte of an option-unit block). The kernel lets a sleep run late by
// its timer slack (50 us by default on Linux), which over a whole write adds
// several seconds; the thread that runs a write asks for the finest slack.
#pragma once

namespace qrb {

// Applies to the calling thread.
void UseFineSleepPrecision();

}  // namespace qrb
