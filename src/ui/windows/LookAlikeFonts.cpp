#include "ui/LookAlikeFonts.h"

namespace qrb {

// Windows has the real Arial, Tahoma, Courier New and System fonts.
void RegisterLookAlikeFonts() {}

}  // namespace qrb
