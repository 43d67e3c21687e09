# What `cmake --install` puts under the prefix, laid out as Debian lays out a game, and the Debian
# package that CPack makes of it (`make deb`; `make test` checks it with scripts/test-package).
#
#   games/quenrik                               the program (Debian puts games in /usr/games)
#   share/quenrik/demo.nes                      the demo cartridge
#   share/man/man6/quenrik.6.gz                 the manual page (doc/quenrik.6)
#   share/applications/quenrik.desktop          the desktop entry
#   share/icons/hicolor/<size>/apps/quenrik.png  its icon, in the hicolor sizes, and
#   share/icons/hicolor/scalable/apps/quenrik.svg  the SVG they are made from
#   share/doc/quenrik/README.md                 the README, with its screenshots beside it
#   share/doc/quenrik/doc/screenshots/          (demo.png, debugger.png, debugger.txt)
#   share/doc/quenrik/copyright                 LICENSE, under the name Debian gives it
#   share/doc/quenrik/changelog.gz              the changelog that Debian wants in every package
set(QUENRIK_INSTALL_BINDIR games CACHE STRING "Where under the prefix the program goes (games, or bin)")
set(QUENRIK_MAINTAINER "The quenrik authors <quenrik@example.org>"
  CACHE STRING "Maintainer field of the Debian package")

set(PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)

# Compressed documents are made with gzip -n, so that they carry no time stamp and the package
# comes out the same from the same sources.
string(TIMESTAMP QUENRIK_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/doc/quenrik.6 ${PACKAGING_DIR}/quenrik.6 @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PACKAGING_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${PACKAGING_DIR}/quenrik.6.gz ${PACKAGING_DIR}/changelog.gz
  COMMAND gzip -9 -n -f -k ${PACKAGING_DIR}/quenrik.6 ${PACKAGING_DIR}/changelog
  DEPENDS ${PACKAGING_DIR}/quenrik.6 ${PACKAGING_DIR}/changelog
  COMMENT "Compressing the manual page and the changelog"
  VERBATIM)
add_custom_target(packaging_documents ALL
  DEPENDS ${PACKAGING_DIR}/quenrik.6.gz ${PACKAGING_DIR}/changelog.gz)

# The icon's PNGs are made from its SVG at build time (rsvg-convert, from install-deps), so that
# they cannot drift from it and no picture is kept twice in the repository.
set(QUENRIK_ICON_SVG ${CMAKE_CURRENT_LIST_DIR}/icon/quenrik.svg)
set(QUENRIK_ICON_SIZES 16 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_pngs "")
foreach(size ${QUENRIK_ICON_SIZES})
  set(png ${PACKAGING_DIR}/icons/${size}x${size}/quenrik.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGING_DIR}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${QUENRIK_ICON_SVG}
    DEPENDS ${QUENRIK_ICON_SVG}
    COMMENT "Drawing the ${size}x${size} icon"
    VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(packaging_icons ALL DEPENDS ${icon_pngs})
install(FILES ${QUENRIK_ICON_SVG} DESTINATION share/icons/hicolor/scalable/apps)

install(TARGETS quenrik RUNTIME DESTINATION ${QUENRIK_INSTALL_BINDIR})
install(FILES ${CARTRIDGE_DIR}/demo.nes DESTINATION share/quenrik)
install(FILES ${PACKAGING_DIR}/quenrik.6.gz DESTINATION share/man/man6)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quenrik.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${PACKAGING_DIR}/changelog.gz DESTINATION share/doc/quenrik)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/quenrik RENAME copyright)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/doc/screenshots DESTINATION share/doc/quenrik/doc
  FILES_MATCHING PATTERN "*.png" PATTERN "*.txt")

# The Debian package, quenrik_<version>_<architecture>.deb in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenrik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUENRIK_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENRIK_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the libraries the program is linked with (dpkg-shlibdeps): SDL 1.2 among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUENRIK_DEB_ARCH})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small NES emulator with a 6502 debugger")
# CPack puts the summary first and this text, the long description, after it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "quenrik emulates the Nintendo Entertainment System. Started from a terminal
with an iNES cartridge image (.nes), it runs the cartridge's 6502 program on
a background thread, draws the picture scanline by scanline into a 320x240
SDL window and lets you play with the keyboard as the first joypad.

On request it prints execution statistics, or stops after every instruction
in an interactive debugger that disassembles, steps, runs to a breakpoint,
dumps and patches memory and shows sprites.

Cartridges may have at most two 16 KB program banks and two 8 KB tile banks
(no bank switching); there is no sound, and the emulation is not paced to
real time. A demo cartridge is included.")
include(CPack)
