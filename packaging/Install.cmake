# Installing QRB117: the three programs, the desktop menu entry with its icon,
# AppStream metainfo, manual pages and the licence, all below the install
# prefix. The same rules make the Debian package (CPack, run by
# scripts/package). Nothing here changes the system at install time: joining
# the dialout group stays the user's decision.
include(GNUInstallDirs)

set(QRB117_PACKAGE_MAINTAINER "QRB117 project <qrb117@example.org>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
set(app_id org.qrb117.qrb117)
set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/qrb117)

install(TARGETS qrb117 qrb117-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET rq7300-sim)  # the simulator is a Linux program
  install(TARGETS rq7300-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The rest is for Linux desktops and Debian; other systems package otherwise.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
install(FILES ${packaging_dir}/${app_id}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${packaging_dir}/${app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
# Drawn by data/pictures/make-pictures.cpp.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/pictures/hicolor
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons)
install(FILES ${packaging_dir}/copyright DESTINATION ${doc_dir})

# Manual pages and the package's change log go in compressed, as Debian wants
# them; -n keeps the name and time out of the gzip header.
find_program(GZIP_PROGRAM gzip REQUIRED)
configure_file(${packaging_dir}/changelog.Debian.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
set(gzipped_files "")
foreach(source IN ITEMS ${packaging_dir}/man/qrb117.1 ${packaging_dir}/man/qrb117-cli.1
                        ${packaging_dir}/man/rq7300-sim.1
                        ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
                     COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${gzipped}
                     DEPENDS ${source}
                     COMMENT "Compressing ${name}")
  list(APPEND gzipped_files ${gzipped})
endforeach()
add_custom_target(qrb117_gzipped_docs ALL DEPENDS ${gzipped_files})
list(POP_BACK gzipped_files changelog)
install(FILES ${gzipped_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} DESTINATION ${doc_dir})

# The manual pages name the same options as --help (the window program reads
# no command line, so its page has none).
if(BUILD_TESTING)
  add_test(NAME man_page_qrb117_cli
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:qrb117-cli>
                   -DMAN_PAGE=${packaging_dir}/man/qrb117-cli.1
                   -DCOMMANDS=ports$<SEMICOLON>info$<SEMICOLON>write$<SEMICOLON>detect$<SEMICOLON>encode
                   -P ${packaging_dir}/CheckManPage.cmake)
  add_test(NAME man_page_rq7300_sim
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:rq7300-sim>
                   -DMAN_PAGE=${packaging_dir}/man/rq7300-sim.1
                   -P ${packaging_dir}/CheckManPage.cmake)
  set_tests_properties(man_page_qrb117_cli man_page_rq7300_sim PROPERTIES LABELS package)
endif()

# The Debian package: qrb117_<version>-1_<arch>.deb, one package for all
# three programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qrb117)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QRB117_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "QRB117 project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware-update tool for the RQ-7300 HF transceiver")
# Lines of the long description; an empty one starts a paragraph.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
QRB117 writes new firmware into the Master CPU, the Slave CPU or the OLU-6
option unit of an RQ-7300 transceiver over a serial line (a cable, or the
radio's UIA-40 or UIA-42 USB interface). The window program qrb117 starts
from the desktop menu, qrb117-cli is the same write engine for scripted
updates, and rq7300-sim is a simulated radio on a pseudo-terminal for trying
the tool without a radio.]])
if(QRB117_DEMO_BUILD)
  # The same words as qrb117-cli --version (cli/BuildInfo.h).
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION [[


This package is a demo build: for the simulator and the sample files only.
Its line key and option-unit routines are stand-ins: do not use it with a
radio.]])
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The look-alike fonts of the window (Arial, Courier New, System); the
# program runs without them in other fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, fonts-wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
