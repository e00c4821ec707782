# Installation and packages.
#
#   cmake --install build --prefix /opt/boardmon   bin/boardmon, bin/boardsim, share/man/man1/...
#   cd build && cpack -G DEB                       boardmon_<version>_<arch>.deb (Linux)
#   cd build-win && cpack -G ZIP                   boardmon-<version>-win64.zip (mingw-w64 build)
#
# The Debian package takes its library dependencies from dpkg-shlibdeps (package dpkg-dev).

include(GNUInstallDirs)

set(BOARDMON_PACKAGE_MAINTAINER "boardmon maintainers <boardmon@localhost>" CACHE STRING
    "Maintainer field of the Debian package (Name <address>)")

# Directories that the install creates: rwxr-xr-x whatever the umask of the build.
set(boardmon_dir_permissions
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${boardmon_dir_permissions})

install(TARGETS boardmon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET boardsim)
  install(TARGETS boardsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages: gzipped where man(1) reads them (Debian policy wants them compressed), as plain
# roff in the Windows zip.
set(boardmon_man_pages boardmon.1)
if(TARGET boardsim)
  list(APPEND boardmon_man_pages boardsim.1)
endif()
set(boardmon_man_dest ${CMAKE_INSTALL_MANDIR}/man1)
if(WIN32)
  foreach(page IN LISTS boardmon_man_pages)
    install(FILES ${PROJECT_SOURCE_DIR}/man/${page} DESTINATION ${boardmon_man_dest})
  endforeach()
else()
  find_program(BOARDMON_GZIP gzip REQUIRED)
  set(boardmon_gz_pages)
  foreach(page IN LISTS boardmon_man_pages)
    set(source ${PROJECT_SOURCE_DIR}/man/${page})
    set(gz ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
    # -n: no name or time stamp in the header, so the same page always gives the same bytes.
    add_custom_command(
      OUTPUT ${gz}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
      COMMAND ${BOARDMON_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
      DEPENDS ${source}
      COMMENT "Compressing manual page ${page}"
      VERBATIM)
    list(APPEND boardmon_gz_pages ${gz})
  endforeach()
  add_custom_target(boardmon_man_pages ALL DEPENDS ${boardmon_gz_pages})
  install(FILES ${boardmon_gz_pages} DESTINATION ${boardmon_man_dest})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/docs/operator-guide.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- CPack ---
set(CPACK_PACKAGE_NAME boardmon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "boardmon")
set(CPACK_PACKAGE_CONTACT "${BOARDMON_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "console monitor for a switch, motion sensor and LED board over TCP")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "boardmon connects to a small board (switch, motion sensor, LED) over one TCP\n"
    "connection and polls it once a second while its switch is on: it lights the\n"
    "LED and sounds an alarm when motion is reported, turns the LED off otherwise,\n"
    "and writes every step of the conversation to standard output.\n"
    "\n"
    "boardsim, a simulated board for trying the monitor out without hardware, is\n"
    "included.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${boardmon_dir_permissions})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_PACKAGE_NAME boardmon)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BOARDMON_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The alarm is played with aplay.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS alsa-utils)

include(CPack)
