# Builds everything for i386 on an amd64 Debian: see cross.cmake.
set(QUENRIK_CROSS_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
