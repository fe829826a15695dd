# Decides whether this is a demo build: the repository's demo line key and its
# stand-in routines, named by default or through identical copies. A demo
# build decodes only the sample files and must never be taken to a radio;
# qrb117-cli --version and the package description say so.
# Sets QRB117_DEMO_BUILD (ON/OFF) for the rest of the build.

# The key's bytes as upper-case hex digits, the way GenerateLineKey.cmake
# reads the file: comments, blanks, line ends and commas do not count.
function(qrb_key_digits file out)
  file(READ "${file}" text)
  string(REGEX REPLACE "#[^\n]*" "" text "${text}")
  string(REGEX REPLACE "[ \t\r\n,]" "" text "${text}")
  string(TOUPPER "${text}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(demo_key "${CMAKE_SOURCE_DIR}/data/demo-line-key.hex")
set(demo_routines "${CMAKE_SOURCE_DIR}/data/routines")

set(demo_key_in_use OFF)
if(EXISTS "${QRB117_LINE_KEY_FILE}")
  qrb_key_digits("${demo_key}" demo_digits)
  qrb_key_digits("${QRB117_LINE_KEY_FILE}" key_digits)
  if(key_digits STREQUAL demo_digits)
    set(demo_key_in_use ON)
  endif()
endif()

set(demo_routines_in_use ON)
foreach(routine BaseRoutine EraseRoutine ProgramRoutine)
  set(file "${QRB117_ROUTINES_DIR}/${routine}.bin")
  if(NOT EXISTS "${file}")
    set(demo_routines_in_use OFF)
    break()
  endif()
  file(SHA256 "${file}" hash)
  file(SHA256 "${demo_routines}/${routine}.bin" demo_hash)
  if(NOT hash STREQUAL demo_hash)
    set(demo_routines_in_use OFF)
  endif()
endforeach()

if(demo_key_in_use AND demo_routines_in_use)
  set(QRB117_DEMO_BUILD ON)
  message(STATUS "Demo build: the repository's demo line key and stand-in routines")
else()
  set(QRB117_DEMO_BUILD OFF)
  # A half-demo build passes for a production one; make the builder see it.
  if(demo_key_in_use)
    message(WARNING "QRB117_LINE_KEY_FILE holds the demo line key: this build decodes "
                    "the sample files only")
  elseif(demo_routines_in_use)
    message(WARNING "QRB117_ROUTINES_DIR holds the stand-in routines: an OLU-6 write of "
                    "this build would send them to the unit")
  endif()
endif()
