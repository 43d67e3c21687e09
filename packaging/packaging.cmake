# What `cmake --install` puts under the prefix, laid out as Debian lays out a game, and the Debian
# package that CPack makes of it (`make deb`; `make test` checks it with scripts/test-package).
# The libretro core has a package of its own, further down.
#
#   games/quenrik                               the program (Debian puts games in /usr/games)
#   share/quenrik/demo.nes                      the demo cartridge
#   share/man/man6/quenrik.6.gz                 the manual page (doc/quenrik.6)
#   share/applications/quenrik.desktop          the desktop entry
#   share/icons/hicolor/<size>/apps/quenrik.png  its icon, in the hicolor sizes, and
#   share/icons/hicolor/scalable/apps/quenrik.svg  the SVG they are made from
#   share/doc/quenrik/README.md                 the README, with the pages it links to beside it
#   share/doc/quenrik/doc/*.md                  (the manual, RetroArch, the web page, speed, ...)
#   share/doc/quenrik/doc/screenshots/          and their pictures, at the paths the links name
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
  install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps COMPONENT quenrik)
endforeach()
add_custom_target(packaging_icons ALL DEPENDS ${icon_pngs})
install(FILES ${QUENRIK_ICON_SVG} DESTINATION share/icons/hicolor/scalable/apps COMPONENT quenrik)

install(TARGETS quenrik RUNTIME DESTINATION ${QUENRIK_INSTALL_BINDIR} COMPONENT quenrik)
install(FILES ${CARTRIDGE_DIR}/demo.nes DESTINATION share/quenrik COMPONENT quenrik)
install(FILES ${PACKAGING_DIR}/quenrik.6.gz DESTINATION share/man/man6 COMPONENT quenrik)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quenrik.desktop DESTINATION share/applications COMPONENT quenrik)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${PACKAGING_DIR}/changelog.gz DESTINATION share/doc/quenrik
  COMPONENT quenrik)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/quenrik RENAME copyright COMPONENT quenrik)
# The pages sit where the README's links point, so that they work in the installed copy too.
file(GLOB QUENRIK_DOC_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/doc/*.md)
install(FILES ${QUENRIK_DOC_PAGES} DESTINATION share/doc/quenrik/doc COMPONENT quenrik)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/doc/screenshots DESTINATION share/doc/quenrik/doc COMPONENT quenrik
  FILES_MATCHING PATTERN "*.png" PATTERN "*.txt")

# The libretro core and what its frontends read beside it, where Debian's libretro cores go
# (component libretro, the package libretro-quenrik):
#
#   lib/<multiarch>/libretro/quenrik_libretro.so      the core
#   lib/<multiarch>/libretro/quenrik.libretro         its keyfile for GNOME Games (libretro-gtk)
#   share/libretro/info/quenrik_libretro.info         its core info for RetroArch
#   share/metainfo/org.example.quenrik.libretro.metainfo.xml  AppStream: an add-on of the frontends
#   share/libretro-quenrik/demo.nes                   the demo at the console's pace, with RetroArch's
#                                                     keys in its text (the build's demo-libretro.nes)
#   share/doc/libretro-quenrik/copyright, changelog.gz
#
# <multiarch> is the target architecture's triplet (x86_64-linux-gnu, i386-linux-gnu, ...).
# dpkg-architecture warns on standard error when CC is not a compiler for that architecture,
# which does not change the triplet.
execute_process(COMMAND dpkg-architecture -a${QUENRIK_DEB_ARCH} -qDEB_HOST_MULTIARCH
  OUTPUT_VARIABLE QUENRIK_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_VARIABLE dpkg_architecture_warning RESULT_VARIABLE dpkg_architecture_status)
if(NOT dpkg_architecture_status EQUAL 0 OR NOT QUENRIK_MULTIARCH)
  message(FATAL_ERROR "dpkg-architecture -a${QUENRIK_DEB_ARCH} -qDEB_HOST_MULTIARCH failed: ${dpkg_architecture_warning}")
endif()
set(QUENRIK_LIBRETRO_DIR lib/${QUENRIK_MULTIARCH}/libretro)
if(TARGET quenrik_libretro)
  set(LIBRETRO_PACKAGING_DIR ${PACKAGING_DIR}/libretro)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/libretro/quenrik_libretro.info.in
    ${LIBRETRO_PACKAGING_DIR}/quenrik_libretro.info @ONLY)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/libretro/changelog.in ${LIBRETRO_PACKAGING_DIR}/changelog @ONLY)
  add_custom_command(
    OUTPUT ${LIBRETRO_PACKAGING_DIR}/changelog.gz
    COMMAND gzip -9 -n -f -k ${LIBRETRO_PACKAGING_DIR}/changelog
    DEPENDS ${LIBRETRO_PACKAGING_DIR}/changelog
    COMMENT "Compressing the libretro core's changelog"
    VERBATIM)
  add_custom_target(packaging_libretro_documents ALL DEPENDS ${LIBRETRO_PACKAGING_DIR}/changelog.gz)

  # A loadable module, not a library anything links with: no execute bits, as Debian has them.
  install(TARGETS quenrik_libretro LIBRARY DESTINATION ${QUENRIK_LIBRETRO_DIR} COMPONENT libretro
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/libretro/quenrik.libretro DESTINATION ${QUENRIK_LIBRETRO_DIR}
    COMPONENT libretro)
  install(FILES ${LIBRETRO_PACKAGING_DIR}/quenrik_libretro.info DESTINATION share/libretro/info
    COMPONENT libretro)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/libretro/org.example.quenrik.libretro.metainfo.xml
    DESTINATION share/metainfo COMPONENT libretro)
  install(FILES ${CARTRIDGE_DIR}/demo-libretro.nes DESTINATION share/libretro-quenrik RENAME demo.nes
    COMPONENT libretro)
  install(FILES ${LIBRETRO_PACKAGING_DIR}/changelog.gz DESTINATION share/doc/libretro-quenrik COMPONENT libretro)
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/libretro-quenrik RENAME copyright
    COMPONENT libretro)
  # RetroArch 1.14 allows save states and cheats only for a core in its cores folder whose info
  # file is in its info folder, one of each, Debian's under /usr. For the core under any other
  # prefix, make install adds settings that point both at that prefix, for the user to add to
  # their own for a run (retroarch --appendconfig). Written for the prefix given at install time;
  # not in the packages, whose core is where RetroArch looks.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/libretro/retroarch-settings.cmake.in
    ${LIBRETRO_PACKAGING_DIR}/retroarch-settings.cmake @ONLY)
  install(SCRIPT ${LIBRETRO_PACKAGING_DIR}/retroarch-settings.cmake COMPONENT retroarch_settings)
  set(CPACK_COMPONENTS_ALL quenrik libretro)
  # scripts/test-package checks the core's package when the build has the core, and finds it here.
  set(QUENRIK_LIBRETRO_PACKAGE_DIR ${QUENRIK_LIBRETRO_DIR} CACHE INTERNAL "Where the core goes under the prefix")
else()
  set(QUENRIK_LIBRETRO_PACKAGE_DIR "" CACHE INTERNAL "Where the core goes under the prefix")
endif()

# The Debian packages, one a component, in the build folder: quenrik_<version>_<architecture>.deb,
# the program, and libretro-quenrik_<version>_<architecture>.deb, the core (when the build has it).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
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
# Depends comes from the libraries each package's programs are linked with (dpkg-shlibdeps): SDL
# 1.2 among them for the program, not for the core.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUENRIK_DEB_ARCH})
# Each description is the synopsis, then the long description. (No CPACK_PACKAGE_DESCRIPTION_SUMMARY:
# CPack would put it first in every component's package.) The program's is given twice: for its
# component, and for the one package that CPack makes when the build has no core.
set(CPACK_DEBIAN_QUENRIK_PACKAGE_NAME quenrik)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "small NES emulator with a 6502 debugger
quenrik emulates the Nintendo Entertainment System. Started from a terminal
with an iNES cartridge image (.nes), it runs the cartridge's 6502 program on
a background thread, draws the picture scanline by scanline into a 320x240
SDL window and lets you play with the keyboard as the first joypad.

On request it prints execution statistics, or stops after every instruction
in an interactive debugger that disassembles, steps, runs to a breakpoint,
dumps and patches memory and shows sprites.

Cartridges may have at most two 16 KB program banks and two 8 KB tile banks
(no bank switching); there is no sound, and the emulation is not paced to
real time. A demo cartridge is included.")
set(CPACK_DEBIAN_QUENRIK_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
# The core is of no use without a frontend, which Debian's libretro cores depend on likewise.
set(CPACK_DEBIAN_LIBRETRO_PACKAGE_NAME libretro-quenrik)
set(CPACK_DEBIAN_LIBRETRO_PACKAGE_SOURCE quenrik)
set(CPACK_DEBIAN_LIBRETRO_PACKAGE_DEPENDS "retroarch | libretro-frontend")
set(CPACK_DEBIAN_LIBRETRO_DESCRIPTION "small NES emulator as a libretro core
quenrik emulates the Nintendo Entertainment System. This package is its
libretro core, which frontends such as RetroArch and GNOME Games load to
play iNES cartridge images (.nes) at the console's pace, with the
frontend's window, controllers, save states and options.

The core draws 256x240 pixels in RGB565 at an aspect of 4:3, one emulated
frame for each frame the frontend shows. The first controller is the
console's first joypad.

The console's sound is emulated: two pulse channels, the triangle, noise and
samples, mixed and filtered as the console does, at 48 kHz.

Cartridges may have at most two 16 KB program banks and two 8 KB tile banks
(no bank switching). A demo cartridge made for the console's pace is
included.")
include(CPack)
