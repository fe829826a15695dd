// Option unit image transfer: 128 KiB image in address frames.
#include "writing/TargetProcedures.h"

namespace qrb {

int TransferOptionImage(WriteFramework&) { return 1; }

}  // namespace qrb
