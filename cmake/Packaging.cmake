# Installation and the Debian package: cpack -G DEB (or scripts/package.sh) in a build folder
# writes ostrim_<version>_<arch>.deb with both programs, the desktop entry and icon, the manual
# pages, the headless service and its example configuration.

include(GNUInstallDirs)

set(OSTRIM_PACKAGE_MAINTAINER "Ostrim developers <ostrim@users.noreply.github.com>"
  CACHE STRING "Maintainer field of the Debian package")
# Debian 12's systemd reads the units of packages from /lib, not /usr/lib.
set(OSTRIM_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH "Where the service unit goes")

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(doc ${CMAKE_INSTALL_DATADIR}/doc/ostrim)

install(TARGETS ostrim ostrim-sim ostrim-replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${pkg}/ostrim.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES res/ostrim.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
# The unit names the first USB serial devices by number (see the file for why).
set(OSTRIM_SERIAL_LAST_MINOR 15)
set(rules)
foreach(major 188 166) # ttyUSB, ttyACM
  foreach(minor RANGE ${OSTRIM_SERIAL_LAST_MINOR})
    list(APPEND rules "DeviceAllow=/dev/char/${major}:${minor} rw")
  endforeach()
endforeach()
string(JOIN "\n" OSTRIM_SERIAL_DEVICE_RULES ${rules})
configure_file(${pkg}/ostrim-headless@.service.in
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/ostrim-headless@.service @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/ostrim-headless@.service
  DESTINATION ${OSTRIM_SYSTEMD_UNIT_DIR})
install(FILES ${pkg}/headless.conf DESTINATION ${doc}/examples)
install(FILES ${pkg}/copyright README.md DESTINATION ${doc})

# Debian compresses what is not tiny, without names or dates, so packages build reproducibly.
configure_file(${pkg}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT packaging/changelog.gz
  COMMAND gzip -9nkf packaging/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog VERBATIM)
set(generated_docs packaging/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc})

# The manual pages are the programs' --help, run at build time. Sanitizer and fuzzing builds
# skip them: they are never packaged.
find_program(HELP2MAN help2man)

# packaging/<target>.1.gz from the target's --help; INCLUDE names a help2man include file.
function(ostrim_man_page target summary)
  cmake_parse_arguments(PAGE "" "INCLUDE" "" ${ARGN})
  set(page packaging/${target}.1)
  set(include_args)
  if(PAGE_INCLUDE)
    set(include_args --include ${PAGE_INCLUDE})
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string ${PROJECT_VERSION}
            --name ${summary} ${include_args} --output ${page} $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} ${PAGE_INCLUDE} VERBATIM)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(generated_docs ${generated_docs} ${page}.gz PARENT_SCOPE)
endfunction()

if(HELP2MAN AND NOT OSTRIM_SANITIZE AND NOT OSTRIM_BUILD_FUZZ)
  ostrim_man_page(ostrim "switch roadside sensor nodes as a test vehicle passes them"
                  INCLUDE ${pkg}/ostrim.h2m)
  ostrim_man_page(ostrim-sim "simulate the GPS receiver and base station Ostrim talks to")
  ostrim_man_page(ostrim-replay "replay a recorded drive against a sensor file, offline")
else()
  message(STATUS "help2man not found: the package will have no manual pages")
endif()
add_custom_target(ostrim_docs ALL DEPENDS ${generated_docs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrim)
set(CPACK_PACKAGE_VENDOR "Ostrim developers")
set(CPACK_PACKAGE_CONTACT "${OSTRIM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "switches roadside sensor nodes as a test vehicle passes them")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
  "Ostrim reads NMEA 0183 from a GPS receiver on one serial port and, when the
test vehicle comes within 10 m of a roadside sensor, switches that sensor's
wireless node on and off through a radio base station on a second serial
port. It logs every accepted fix to a CSV GPS log and every accepted sentence
to a raw log.
.
The package holds the dialog, a headless front end with a sandboxed systemd
template unit (ostrim-headless@.service) for vehicle PCs without a screen,
ostrim-sim, which simulates the receiver and the base station for
rehearsals, and ostrim-replay, which replays a recorded drive against a
sensor file offline.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from the binaries (dpkg-shlibdeps); adduser makes the service's account.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg}/postinst ${pkg}/prerm ${pkg}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
