# The 64-bit Windows build (run under wine64 where 32-bit Windows programs do not run): MinGW-w64
# for x86_64.
set(MV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
