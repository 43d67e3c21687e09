# Exploit mitigations for every program a user gets (make build, install, deb, the cross builds):
# the ones a Debian package gets, as dpkg-buildflags gives them for the target architecture
# (QUENRIK_DEB_ARCH), so each architecture gets only what its compiler has.
#
# Only the hardening part of dpkg's flags is taken: the flags that hardening=+all adds over
# hardening=-all (stack protector, _FORTIFY_SOURCE, format checks, RELRO and BIND_NOW, and whatever
# a newer dpkg adds, e.g. stack clash or CF protection). Optimisation and debug flags stay the build
# type's. The hardening goes first on each command line, so that CFLAGS, CXXFLAGS, CPPFLAGS and
# LDFLAGS from the environment (read at the first configure, as CMake reads them) come after it and
# win where they disagree, as a distribution expects.
#
# The sanitizer and fuzz builds go without: their runtimes bring checks of their own.
# QUENRIK_HARDENING=OFF builds without (only to see what the checks catch).
option(QUENRIK_HARDENING "Build with the hardening flags of dpkg-buildflags" ON)

set(QUENRIK_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING "Preprocessor flags (CMake reads no CPPFLAGS: taken from the environment at the first configure)")

# quenrik_dpkg_flags(<hardening option> <flag name> <output variable>): dpkg-buildflags' flags as a list.
function(quenrik_dpkg_flags hardening name out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=${hardening}
            DEB_HOST_ARCH=${QUENRIK_DEB_ARCH} dpkg-buildflags --get ${name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${name} failed (dpkg-dev missing?); or configure with -DQUENRIK_HARDENING=OFF")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

# quenrik_hardening_flags(<flag name> <output variable>): what hardening=+all adds, as one string.
function(quenrik_hardening_flags name out)
  quenrik_dpkg_flags(+all ${name} hardened)
  quenrik_dpkg_flags(-all ${name} plain)
  list(REMOVE_ITEM hardened ${plain})
  # Without optimisation glibc cannot fortify and says so on every file.
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    list(FILTER hardened EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
  endif()
  list(JOIN hardened " " hardened)
  set(${out} "${hardened}" PARENT_SCOPE)
endfunction()

set(QUENRIK_HARDENING_FLAGS "")
if(QUENRIK_HARDENING AND NOT QUENRIK_SANITIZE AND NOT QUENRIK_FUZZ)
  quenrik_hardening_flags(CPPFLAGS cppflags)
  quenrik_hardening_flags(CXXFLAGS cxxflags)
  quenrik_hardening_flags(CFLAGS cflags)
  quenrik_hardening_flags(LDFLAGS ldflags)
  # Stack clash and control-flow protection, which a newer dpkg adds itself, where this compiler
  # has them for this target (CF protection is x86 only).
  include(CheckCXXCompilerFlag)
  foreach(flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "QUENRIK_HAS${flag}" has_flag)
    check_cxx_compiler_flag(${flag} ${has_flag})
    if(${has_flag} AND NOT cxxflags MATCHES "${flag}")
      string(APPEND cflags " ${flag}")
      string(APPEND cxxflags " ${flag}")
    endif()
  endforeach()
  set(CMAKE_C_FLAGS "${cppflags} ${cflags} ${QUENRIK_CPPFLAGS} ${CMAKE_C_FLAGS}")
  set(CMAKE_CXX_FLAGS "${cppflags} ${cxxflags} ${QUENRIK_CPPFLAGS} ${CMAKE_CXX_FLAGS}")
  set(CMAKE_EXE_LINKER_FLAGS "${ldflags} ${CMAKE_EXE_LINKER_FLAGS}")
  set(CMAKE_SHARED_LINKER_FLAGS "${ldflags} ${CMAKE_SHARED_LINKER_FLAGS}")
  # Loadable modules (add_library(MODULE): the RetroArch tests' probe core) have flags of their own.
  set(CMAKE_MODULE_LINKER_FLAGS "${ldflags} ${CMAKE_MODULE_LINKER_FLAGS}")
  set(QUENRIK_HARDENING_FLAGS "${cppflags} ${cxxflags} ${ldflags}")
  # Position-independent executables (gcc's default on Debian already; said here for the others).
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  message(STATUS "Hardening for ${QUENRIK_DEB_ARCH}: ${QUENRIK_HARDENING_FLAGS}")
else()
  set(CMAKE_C_FLAGS "${QUENRIK_CPPFLAGS} ${CMAKE_C_FLAGS}")
  set(CMAKE_CXX_FLAGS "${QUENRIK_CPPFLAGS} ${CMAKE_CXX_FLAGS}")
endif()
