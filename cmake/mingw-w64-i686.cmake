# 32-bit Windows cross-build: mingw-w64.cmake for i686.
set(SPECTRO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
