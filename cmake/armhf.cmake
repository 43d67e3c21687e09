# Builds everything for armhf on an amd64 Debian: see cross.cmake.
set(QUENRIK_CROSS_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
