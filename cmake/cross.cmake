# Cross build for another Debian architecture on an amd64 Debian, with Debian's cross compilers
# and the architecture's multiarch libraries (make test-i386, test-arm64, test-armhf). The file
# that includes this one names the architecture in QUENRIK_CROSS_ARCH.
#   i386   i686-linux-gnu-g++, whose programs the amd64 kernel runs as they are (or qemu-i386)
#   arm64  aarch64-linux-gnu-g++, run under qemu-aarch64
#   armhf  arm-linux-gnueabihf-g++, run under qemu-arm
# qemu-user takes the libraries from / (the multiarch ones that dpkg installed): with the cross
# compiler's own libc in /usr/<triplet> mixed in, programs hang when they start a thread.
set(CMAKE_SYSTEM_NAME Linux)
if(QUENRIK_CROSS_ARCH STREQUAL "i386")
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(cross_triplet i686-linux-gnu)
  set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
  # A kernel built without 32-bit x86 support cannot run them: qemu-i386 can.
  execute_process(COMMAND /lib/ld-linux.so.2 --help RESULT_VARIABLE i386_runs OUTPUT_QUIET ERROR_QUIET)
  if(NOT i386_runs EQUAL 0)
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
  endif()
elseif(QUENRIK_CROSS_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(cross_triplet aarch64-linux-gnu)
  set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
elseif(QUENRIK_CROSS_ARCH STREQUAL "armhf")
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(cross_triplet arm-linux-gnueabihf)
  set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
else()
  message(FATAL_ERROR "cross.cmake: unknown architecture '${QUENRIK_CROSS_ARCH}'")
endif()
set(CMAKE_C_COMPILER ${cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)
# binutils (ar, ranlib, strip, and gcc-ar for the link-time optimiser) are found by the same
# prefix.
set(QUENRIK_DEB_ARCH ${QUENRIK_CROSS_ARCH} CACHE STRING "Debian architecture of the programs built (i386, arm64, ...)")
