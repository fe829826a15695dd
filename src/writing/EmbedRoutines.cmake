# Build-time step: checks the three stored routines of the option unit and
# writes them into a C++ source as constant byte arrays.
#
#   cmake -DROUTINES_DIR=<folder> -DOUTPUT=<file.cpp> -P EmbedRoutines.cmake
#
# A routine is a 4-byte length L (high byte first), L bytes of program and a
# check byte that makes the whole block sum to 0 modulo 256. A file of any
# other form stops the build; a size or check byte other than the known
# routines' only warns, so other routine versions can be built in.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED ROUTINES_DIR OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "EmbedRoutines.cmake needs -DROUTINES_DIR=<folder> and -DOUTPUT=<file>")
endif()

# name:total size:check byte (hex) of the routines the unit is known to take
set(known_routines
    "BaseRoutine:916:5A"
    "EraseRoutine:1260:A7"
    "ProgramRoutine:1358:04")

set(source "// Generated at build time from ${ROUTINES_DIR} by EmbedRoutines.cmake.\n")
string(APPEND source "// Do not edit; the routines are the files of that folder.\n")
string(APPEND source "#include \"writing/StoredRoutines.h\"\n\nnamespace qrb::embedded {\n")

foreach(known IN LISTS known_routines)
  string(REPLACE ":" ";" entry "${known}")
  list(GET entry 0 name)
  list(GET entry 1 known_size)
  list(GET entry 2 known_check)
  set(path "${ROUTINES_DIR}/${name}.bin")

  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "Stored routine missing: ${path}")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  if(size LESS 5)
    message(FATAL_ERROR "Stored routine ${path}: ${size} bytes, too short for a "
                        "length field and a check byte")
  endif()

  string(SUBSTRING "${hex}" 0 8 length_hex)
  math(EXPR length_field "0x${length_hex}")
  math(EXPR body_size "${size} - 5")
  if(NOT length_field EQUAL body_size)
    message(FATAL_ERROR "Stored routine ${path}: length field ${length_field} "
                        "(0x${length_hex}) does not match the file (${size} bytes, so ${body_size})")
  endif()

  # One pass sums the bytes and writes the array text, sixteen bytes a line.
  set(sum 0)
  set(offset 0)
  set(bytes "   ")
  while(offset LESS hex_length)
    string(SUBSTRING "${hex}" ${offset} 2 byte)
    math(EXPR sum "(${sum} + 0x${byte}) % 256")
    string(APPEND bytes " 0x${byte},")
    math(EXPR offset "${offset} + 2")
    math(EXPR column "${offset} % 32")
    if(column EQUAL 0 AND offset LESS hex_length)
      string(APPEND bytes "\n   ")
    endif()
  endwhile()
  if(NOT sum EQUAL 0)
    math(EXPR sum_hex "${sum}" OUTPUT_FORMAT HEXADECIMAL)
    message(FATAL_ERROR "Stored routine ${path}: its bytes sum to ${sum_hex} modulo 256, "
                        "not 0 (the check byte does not close the block)")
  endif()

  math(EXPR last_offset "${hex_length} - 2")
  string(SUBSTRING "${hex}" ${last_offset} 2 check)
  string(TOUPPER "${check}" check)
  if(NOT size EQUAL known_size OR NOT check STREQUAL known_check)
    message(WARNING "Stored routine ${path}: ${size} bytes with check byte ${check}; "
                    "the known ${name} has ${known_size} bytes and check byte ${known_check}")
  endif()

  string(APPEND source "\nconst std::uint8_t k${name}Bytes[${size}] = {\n${bytes}\n};\n")
  string(APPEND source "const std::span<const std::uint8_t> ${name}{k${name}Bytes};\n")
endforeach()

string(APPEND source "\n}  // namespace qrb::embedded\n")

file(WRITE "${OUTPUT}" "${source}")
