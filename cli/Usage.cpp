#include "cli/Usage.h"

namespace qrb::cli {

const char* const kMainHelp =
    R"(Usage: qrb117-cli COMMAND [OPTIONS]

Firmware-update tool for the RQ-7300 transceiver, without windows.

Commands:
  ports             list the COM ports of this PC
  detect            find the ports on which a radio waits for a PC
  info FILE         show what a firmware file holds
  write FILE        write a firmware file into the radio
  encode IN OUT     encode a plain firmware file with this build's key

Options:
  --help            this text
  --version         the program version, and whether this is a demo build

Run 'qrb117-cli COMMAND --help' for the options of a command.

Examples:
  qrb117-cli ports
  qrb117-cli detect
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
  --port PORT        COM<n> (e.g. COM3), a device path (e.g. /dev/ttyUSB0),
                     or auto: listen on every COM port (sending nothing) and
                     write on the first one where a radio announces itself
  --yes              answer "Ok ?" at the end with OK
  --attempts N       after a failure, try again until N attempts were made
                     (default 1; asked on the terminal when not given and
                     standard input is a terminal)
  --target T         master, slave or olu6 (default: read from the file name)
  --watchdog S       cancel the run when no exchange with the radio completed
                     for S seconds (default 60; 0 turns it off)
  --trace FILE       write every byte sent and received to FILE
  --repeat           station mode: after each radio wait for the next one's
                     ready byte (on PORT, or any port with auto) and write FILE
                     again, until Ctrl+C; needs --log
  --log FILE         station mode: append one JSON line for each radio to FILE
                     (times, port, target, unit version, file, checksum,
                     result, attempts, duration)

Progress goes to standard error, the unit's version and the instructions to
standard output. Ctrl+C acts as the Cancel button.
Exit status: 0 when the completion was confirmed, 1 when the run failed or was
cancelled, 2 for usage and file errors. With --port auto and no radio within
the watchdog time the run fails and names the ports listened to. Station mode
ends with 1 (Ctrl+C, or a log that cannot be written).

Examples:
  qrb117-cli write --port COM1 --yes TN508001_M_V0102.SFL
  qrb117-cli write --port auto --yes TN508001_M_V0102.SFL
  qrb117-cli write --port auto --repeat --log station.jsonl --yes TN508001_M_V0102.SFL
  qrb117-cli write --port /dev/ttyUSB0 --attempts 3 --yes --trace run.log TQX37_V0105.SFL
)";

const char* const kEncodeHelp =
    R"(Usage: qrb117-cli encode IN OUT

Encodes the plain firmware file IN with this build's line key into OUT, as
the producer does. OUT appears complete or not at all.

Example:
  qrb117-cli encode TN508001_M_V0102.SFL TN508002_M_V0102.SFL
)";

const char* const kDetectHelp =
    R"(Usage: qrb117-cli detect [--seconds N]

Opens every COM port of the list that 'qrb117-cli ports' shows, at the write
run's line settings, listens for N seconds (default 10) and sends nothing.
A radio waiting for a PC announces itself with its ready byte; each port is
shown with what was heard on it:
  COM7 (UIA-42): radio waiting for a PC
  COM1: silent
  COM3: busy or no permission: <reason>
  COM4: other bytes, no ready byte
  COM5: vanished while listened to
Exit status: 0 when a radio was found, 1 when none was (or on Ctrl+C),
2 for usage errors.

Example:
  qrb117-cli detect --seconds 5
)";

}  // namespace qrb::cli
