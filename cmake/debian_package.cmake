# The Debian packages that `make package` builds with CPack, one per install component:
# kelvo-cli (component cli: kelvo-cli and zarq-sim, no Qt) and kelvo (component window: the
# window, its help and its desktop entry). The programs and the window's files are installed by
# their own folders' rules; here are the manual pages and each package's /usr/share/doc files.
include(GNUInstallDirs)

set(package_sources ${PROJECT_SOURCE_DIR}/resources)
set(package_files ${CMAKE_BINARY_DIR}/package-files)

# Debian wants manual pages and the changelog compressed at the highest level, with no name or
# time stamp in the header, so that the same sources give the same files.
function(kelvo_gzipped source output)
  configure_file(${source} ${package_files}/${output} @ONLY)
  add_custom_command(OUTPUT ${package_files}/${output}.gz
                     COMMAND gzip -9nkf ${package_files}/${output}
                     DEPENDS ${package_files}/${output})
  set(gzipped_files ${gzipped_files} ${package_files}/${output}.gz PARENT_SCOPE)
endfunction()

# The sections that kelvo(1) and kelvo-cli(1) share, and the one both README.Debian files have.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${package_sources}/man/port-names.inc ${package_sources}/man/permissions.inc
             ${package_sources}/man/script-format.inc ${package_sources}/debian/serial-ports.inc)
foreach(part man/port-names man/permissions man/script-format debian/serial-ports)
  get_filename_component(name ${part} NAME)
  string(TOUPPER "${name}" variable)
  string(REPLACE "-" "_" variable "${variable}")
  if(part MATCHES "^man/")
    set(variable MAN_${variable})
  endif()
  file(READ ${package_sources}/${part}.inc ${variable})
  string(STRIP "${${variable}}" ${variable})
endforeach()
kelvo_gzipped(${package_sources}/debian/changelog changelog)

# Each package's manual pages, and its copyright, changelog and README.Debian.
function(kelvo_package_files component package)
  foreach(page ${ARGN})
    kelvo_gzipped(${package_sources}/man/${page}.1 ${page}.1)
    install(FILES ${package_files}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${component})
  endforeach()
  configure_file(${package_sources}/debian/${package}.README.Debian
                 ${package_files}/${package}/README.Debian @ONLY)
  install(FILES ${package_files}/changelog.gz ${package_sources}/debian/copyright
                ${package_files}/${package}/README.Debian
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  set(gzipped_files ${gzipped_files} PARENT_SCOPE)
endfunction()

kelvo_package_files(cli kelvo-cli kelvo-cli zarq-sim)
set(CPACK_COMPONENTS_ALL cli)
# A build without the window (the arm64 one) packs kelvo-cli alone.
if(KELVO_WINDOW)
  kelvo_package_files(window kelvo kelvo)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
add_custom_target(package_files ALL DEPENDS ${gzipped_files})

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Harvenor Instruments Ltd.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kelvo developers <kelvo@harvenor.example>")
set(CPACK_DEBIAN_PACKAGE_SOURCE kelvo)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
if(CMAKE_CROSSCOMPILING)
  # CPack would name the build machine's architecture.
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()

set(about_kelvo [=[Kelvo loads a firmware image into a ZARQ device over a serial port, in
the 128-byte blocks of an XMODEM-like protocol with commands that set the
load address and erase the memory, or plays a script of raw bytes to the
same port.]=])
set(CPACK_DEBIAN_CLI_PACKAGE_NAME kelvo-cli)
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "firmware loader for ZARQ devices over a serial port, command line\n${about_kelvo}\n.\n\
This package holds the command-line program, for shells and production\n\
lines (kelvo-cli), and a simulated device on a pseudo-terminal for trying\n\
it without hardware (zarq-sim). It needs no display.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME kelvo)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "firmware loader for ZARQ devices over a serial port, window\n${about_kelvo}\n.\n\
This package holds the window (kelvo), its help and its desktop menu\n\
entry; kelvo-cli and the simulated device are in the package kelvo-cli.")
# The window's manual page tries it with the simulator of kelvo-cli; Help opens its document
# through the desktop's xdg-open.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "kelvo-cli (= ${PROJECT_VERSION}), xdg-utils")
include(CPack)
