# The modules of src/ and the programs above them, and the check that keeps
# their includes pointing down the layers.
#
# Every module exports src/ as its include root, so the compiler alone would
# let any file include any header. What a folder may include is what it
# declares: its own headers, those of the qrb_ modules it links, and single
# headers it names with USES (for an interface it implements without linking
# the module behind it). A build step checks each folder's #include lines
# against that before its code is compiled and fails the build on the first
# undeclared one. A module may link only modules defined before it, so the
# order of the folders in the top CMakeLists.txt is the order of the layers.

set(QRB_LAYER_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake)

# qrb_module(<target> [USES <module/Header.h>...] [LINK <libs...>]): one static
# library from the .cpp files of the calling folder (platform files in
# posix/ or windows/ are added by the folder itself), with its layer check.
function(qrb_module target)
  cmake_parse_arguments(ARG "" "" "USES;LINK" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR} holds no .cpp file for ${target}")
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${ARG_LINK})
  qrb_check_layers(${target} USES ${ARG_USES})
endfunction()

# qrb_check_layers(<target> [USES <module/Header.h>...]): checks the includes
# of every source and header in the calling folder (sub-folders included)
# against the modules <target> links and the headers named after USES. Call
# it once per folder, after target_link_libraries.
function(qrb_check_layers target)
  cmake_parse_arguments(ARG "" "" "USES" ${ARGN})
  get_filename_component(module ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(${target} PROPERTIES QRB_MODULE ${module})

  set(declared ${module})
  get_target_property(links ${target} LINK_LIBRARIES)
  foreach(lib IN LISTS links)
    if(lib MATCHES "^qrb_" AND NOT TARGET ${lib})
      message(FATAL_ERROR "${target} links ${lib}, which is not defined yet: a module links "
                          "only the modules of the layers below it")
    endif()
    if(TARGET ${lib})
      get_target_property(used ${lib} QRB_MODULE)
      if(used)
        list(APPEND declared ${used})
      endif()
    endif()
  endforeach()
  foreach(header IN LISTS ARG_USES)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/src/${header})
      message(FATAL_ERROR "${target} uses ${header}, which is not a file of src/")
    endif()
    list(APPEND declared ${header})
  endforeach()
  list(REMOVE_DUPLICATES declared)
  list(JOIN declared "," declared_text)

  file(GLOB_RECURSE files CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.in)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.layers)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DMODULE=${module} -DMODULE_DIR=${CMAKE_CURRENT_SOURCE_DIR}
            -DMODULES_ROOT=${CMAKE_SOURCE_DIR}/src -DDECLARED=${declared_text} -DSTAMP=${stamp}
            -P ${QRB_LAYER_CHECK_SCRIPT}
    DEPENDS ${files} ${QRB_LAYER_CHECK_SCRIPT}
    COMMENT "Checking the includes of ${folder} against the modules it declares"
    VERBATIM)
  target_sources(${target} PRIVATE ${stamp})
endfunction()
