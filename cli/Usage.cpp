#include "cli/Usage.h"

namespace qrb::cli {

const char* const kMainHelp =
    R"(Usage: qrb117-cli COMMAND [OPTIONS]

Firmware-update tool for the RQ-7300 transceiver, without windows.

Commands:
  ports             list the COM ports of this PC
  info FILE         show what a firmware file holds
  write FILE        write a firmware file into the radio
  encode IN OUT     encode a plain firmware file with this build's key

Options:
  --help            this text
  --version         the program version, and whether this is a demo build

Run 'qrb117-cli COMMAND --help' for the options of a command.

Examples:
  qrb117-cli ports
  qrb117-cli info TN508001_M_V0102.SFL
  qrb117-cli write --port COM1 --yes TN508001_M_V0102.SFL
)";

const char* const kPortsHelp =
    R"(Usage: qrb117-cli ports

Lists the COM ports that the Configure dialog offers, one a line, in port
order; ports of the UIA-40 and UIA-42 interfaces carry their name.
On Linux COM1-32 are /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31 and COM65-96
/dev/ttyACM0-31; QRB117_COMPORTS="COM5=/dev/pts/3;..." adds or overrides ports.

Example:
  qrb117-cli ports
)";

const char* const kInfoHelp =
    R"(Usage: qrb117-cli info FILE

Shows the target read from the file name, the header lines, whether the
header ends in an "ALL" line, and for Master CPU and OLU-6 files the image
checksum. A file the readers refuse gets its message and exit status 2.

Example:
  qrb117-cli info data/samples/TQX37_V0105.SFL
)";

const char* const kWriteHelp =
    R"(Usage: qrb117-cli write --port PORT [OPTIONS] FILE

Writes FILE into the radio on PORT, as the WRITE button of the window does.

Options:
  --port PORT        COM<n> (e.g. COM3) or a device path (e.g. /dev/ttyUSB0)
  --yes              answer "Ok ?" at the end with OK
  --attempts N       after a failure, try again until N attempts were made
                     (default 1; asked on the terminal when not given and
                     standard input is a terminal)
  --target T         master, slave or olu6 (default: read from the file name)
  --watchdog S       cancel the run when no exchange with the radio completed
                     for S seconds (default 60; 0 turns it off)
  --trace FILE       write every byte sent and received to FILE

Progress goes to standard error, the unit's version and the instructions to
standard output. Ctrl+C acts as the Cancel button.
Exit status: 0 when the completion was confirmed, 1 when the run failed or was
cancelled, 2 for usage and file errors.

Examples:
  qrb117-cli write --port COM1 --yes TN508001_M_V0102.SFL
  qrb117-cli write --port /dev/ttyUSB0 --attempts 3 --yes --trace run.log TQX37_V0105.SFL
)";

const char* const kEncodeHelp =
    R"(Usage: qrb117-cli encode IN OUT

Encodes the plain firmware file IN with this build's line key into OUT, as
the producer does. OUT appears complete or not at all.

Example:
  qrb117-cli encode TN508001_M_V0102.SFL TN508002_M_V0102.SFL
)";

}  // namespace qrb::cli
