# Cross build for Windows with the mingw-w64 compilers (posix thread model),
# shared by the toolchain files of the two targets: each sets MINGW_TRIPLET
# (and WINE_RUN_OPTIONS) and includes this file. Programs built here run under
# Wine, in a prefix of the build's own.

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every module shares the one libgcc DLL (libstdc++ and winpthread are shared
# by default): with a static copy in each module, an exception thrown in a
# vendor library would not be caught in the bridge, and the process would end
# in terminate instead.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-shared-libgcc")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-shared-libgcc")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-shared-libgcc")

# CTest (and custom commands that run a built program) start it through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/scripts/wine-run.sh ${WINE_RUN_OPTIONS}
    ${CMAKE_BINARY_DIR}/wineprefix)
