# Checks the #include lines of one folder against what its module declares.
#
#   cmake -DMODULE=<name> -DMODULE_DIR=<folder> -DMODULES_ROOT=<src folder>
#         -DDECLARED=<module,module/Header.h,...> [-DSTAMP=<file>] -P CheckLayers.cmake
#
# An include whose first path element names a folder of MODULES_ROOT reaches
# that module: it must name a declared module or a declared header. An include
# that climbs out of its folder with ".." is refused, as it would get round
# the rule. Includes of the folder's own files and of system and library
# headers are not looked at. Every offending line is listed before failing;
# STAMP is touched when the folder passes.
cmake_minimum_required(VERSION 3.25)

foreach(required MODULE MODULE_DIR MODULES_ROOT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "CheckLayers.cmake needs -D${required}=...")
  endif()
endforeach()
string(REPLACE "," ";" declared "${DECLARED}")
get_filename_component(MODULE_DIR ${MODULE_DIR} ABSOLUTE)
get_filename_component(MODULES_ROOT ${MODULES_ROOT} ABSOLUTE)

file(GLOB module_dirs LIST_DIRECTORIES true RELATIVE ${MODULES_ROOT} ${MODULES_ROOT}/*)
set(modules "")
foreach(entry IN LISTS module_dirs)
  if(IS_DIRECTORY ${MODULES_ROOT}/${entry})
    list(APPEND modules ${entry})
  endif()
endforeach()

file(GLOB_RECURSE files ${MODULE_DIR}/*.h ${MODULE_DIR}/*.cpp ${MODULE_DIR}/*.in)
list(SORT files)
set(offences "")
foreach(file IN LISTS files)
  file(STRINGS ${file} directives REGEX "^[ \t]*#[ \t]*include")
  file(RELATIVE_PATH shown ${MODULE_DIR} ${file})
  foreach(directive IN LISTS directives)
    if(NOT directive MATCHES "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]")
      continue()
    endif()
    set(header ${CMAKE_MATCH_1})
    if(header MATCHES "(^|/)\\.\\.(/|$)")
      string(APPEND offences "\n  ${MODULE}/${shown}: ${header} (climbs out of the folder)")
      continue()
    endif()
    if(NOT header MATCHES "^([^/]+)/")
      continue()
    endif()
    set(target_module ${CMAKE_MATCH_1})
    if(NOT target_module IN_LIST modules)
      continue()
    endif()
    if(target_module IN_LIST declared OR header IN_LIST declared)
      continue()
    endif()
    string(APPEND offences "\n  ${MODULE}/${shown}: ${header}")
  endforeach()
endforeach()

if(offences)
  list(JOIN declared ", " declared_text)
  message(FATAL_ERROR
    "Includes that cross the layers. The module ${MODULE} declares ${declared_text}; "
    "these includes reach further:${offences}\n"
    "A module includes only what its CMakeLists.txt declares (LINK a qrb_ module of a "
    "lower layer, or USES one header of it); see docs/ARCHITECTURE.md.")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
