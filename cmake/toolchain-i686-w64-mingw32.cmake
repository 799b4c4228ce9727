# The 32-bit Windows build: the program that the test kit ships, run under
# 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
set(WINE_RUN_OPTIONS)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
