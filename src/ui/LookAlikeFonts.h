// The windows name Tahoma and System as their fonts. Debian's Wine fonts
// carry look-alikes of both, but outside fontconfig's search path; they are
// made known to the application once, before the first window is built.
// (Arial and Courier New come from fonts-liberation through fontconfig.)
// On Windows the real fonts are there and this does nothing.
#pragma once

namespace qrb {

void RegisterLookAlikeFonts();

}  // namespace qrb
