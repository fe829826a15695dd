# Turns the line key file (43 bytes as hex text) into a C++ source with the
# LineKey table. Run as: cmake -DKEY_FILE=<hex file> -DOUTPUT=<cpp> -P GenerateLineKey.cmake
#
# The key file holds hexadecimal digits, two per byte; blanks, line ends and
# commas between them are ignored, and '#' starts a comment to the end of the
# line. Anything else, or any number of bytes but 43, fails the build.
if(NOT KEY_FILE OR NOT OUTPUT)
  message(FATAL_ERROR "GenerateLineKey.cmake needs -DKEY_FILE=... and -DOUTPUT=...")
endif()
if(NOT EXISTS "${KEY_FILE}")
  message(FATAL_ERROR "Line key file '${KEY_FILE}' (QRB117_LINE_KEY_FILE) does not exist")
endif()

file(READ "${KEY_FILE}" text)
string(REGEX REPLACE "#[^\n]*" "" text "${text}")
string(REGEX REPLACE "[ \t\r\n,]" "" text "${text}")
if(NOT text MATCHES "^[0-9A-Fa-f]*$")
  message(FATAL_ERROR
    "Line key file '${KEY_FILE}' (QRB117_LINE_KEY_FILE) holds characters that are not "
    "hexadecimal digits; it must hold exactly 43 bytes as hex text")
endif()
string(LENGTH "${text}" digits)
if(NOT digits EQUAL 86)
  math(EXPR half "${digits} / 2")
  message(FATAL_ERROR
    "Line key file '${KEY_FILE}' (QRB117_LINE_KEY_FILE) holds ${digits} hex digits "
    "(${half} bytes); it must hold exactly 43 bytes as hex text")
endif()

set(values "")
foreach(i RANGE 0 84 2)
  string(SUBSTRING "${text}" ${i} 2 byte)
  string(APPEND values "    0x${byte},\n")
endforeach()

set(source "// Generated from ${KEY_FILE} by GenerateLineKey.cmake; do not edit.
#include \"firmware/U_Decrypt.h\"

namespace qrb {

const std::array<std::uint8_t, kLineKeySize> LineKey = {
${values}};

}  // namespace qrb
")
# Rewrite only on change, so an unchanged key does not rebuild the library.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL source)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${source}")
