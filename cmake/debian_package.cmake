# The Debian package that `make package` builds with CPack: the programs and the window's files
# (installed by their own folders' rules), the manual pages and the files of /usr/share/doc/kelvo.
include(GNUInstallDirs)

set(package_sources ${PROJECT_SOURCE_DIR}/resources)
set(package_files ${CMAKE_BINARY_DIR}/package-files)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelvo)

# Debian wants manual pages and the changelog compressed at the highest level, with no name or
# time stamp in the header, so that the same sources give the same files.
function(kelvo_gzipped source output)
  configure_file(${source} ${package_files}/${output} @ONLY)
  add_custom_command(OUTPUT ${package_files}/${output}.gz
                     COMMAND gzip -9nkf ${package_files}/${output}
                     DEPENDS ${package_files}/${output})
  set(gzipped_files ${gzipped_files} ${package_files}/${output}.gz PARENT_SCOPE)
endfunction()

# The sections that kelvo(1) and kelvo-cli(1) share.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${package_sources}/man/port-names.inc ${package_sources}/man/permissions.inc
             ${package_sources}/man/script-format.inc)
foreach(part port-names permissions script-format)
  string(TOUPPER "MAN_${part}" variable)
  string(REPLACE "-" "_" variable "${variable}")
  file(READ ${package_sources}/man/${part}.inc ${variable})
  string(STRIP "${${variable}}" ${variable})
endforeach()
foreach(page kelvo kelvo-cli zarq-sim)
  kelvo_gzipped(${package_sources}/man/${page}.1 ${page}.1)
  install(FILES ${package_files}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
kelvo_gzipped(${package_sources}/debian/changelog changelog)
add_custom_target(package_files ALL DEPENDS ${gzipped_files})
install(FILES ${package_files}/changelog.gz ${package_sources}/debian/copyright
              ${package_sources}/debian/README.Debian
        DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Harvenor Instruments Ltd.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kelvo developers <kelvo@harvenor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware loader for ZARQ devices over a serial port")
set(CPACK_PACKAGE_DESCRIPTION [=[Kelvo loads a firmware image into a ZARQ device over a serial port, in
the 128-byte blocks of an XMODEM-like protocol with commands that set the
load address and erase the memory, or plays a script of raw bytes to the
same port. It has a window (kelvo), a command-line program for shells and
production lines (kelvo-cli), and a simulated device on a pseudo-terminal
for trying it without hardware (zarq-sim).]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help opens its document through the desktop's xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_STRIP_FILES ON)
include(CPack)
