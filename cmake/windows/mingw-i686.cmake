# The 32-bit Windows build (Morvane's own architecture): MinGW-w64 for i686.
set(MV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
