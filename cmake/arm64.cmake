# Builds everything for arm64 on an amd64 Debian: see cross.cmake.
set(QUENRIK_CROSS_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
