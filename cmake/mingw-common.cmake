# Shared part of the mingw-w64 toolchain files. The posix thread flavour would need
# winpthread; the win32 flavour keeps the executables free of extra DLLs.
find_program(CMAKE_C_COMPILER NAMES ${ZANTO_MINGW_TRIPLE}-gcc-win32 ${ZANTO_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZANTO_MINGW_TRIPLE}-g++-win32 ${ZANTO_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZANTO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZANTO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine through CTest.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
