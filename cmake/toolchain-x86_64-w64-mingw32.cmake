# A 64-bit Windows build of the same sources, run under 64-bit Wine: a test
# vehicle for the Win32 layer on machines that cannot run 32-bit programs.
# Never shipped.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(WINE_RUN_OPTIONS --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
