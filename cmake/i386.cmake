# Builds everything as a 32-bit x86 program on an amd64 Debian (make test-i386): gcc's -m32 for
# compiling and linking, and the i386 multiarch folders for the libraries.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(QUENRIK_DEB_ARCH i386 CACHE STRING "Debian architecture of the programs built (i386, arm64, ...)")
