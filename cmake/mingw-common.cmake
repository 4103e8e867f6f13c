# Shared part of the mingw-w64 toolchain files. The posix thread flavour gives the
# tests std::mutex and std::thread; -static links winpthread in, so no DLL is needed.
find_program(CMAKE_C_COMPILER NAMES ${ZANTO_MINGW_TRIPLE}-gcc-posix ${ZANTO_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZANTO_MINGW_TRIPLE}-g++-posix ${ZANTO_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZANTO_MINGW_TRIPLE}-windres)
if(NOT CMAKE_HOST_WIN32)
  set(CMAKE_FIND_ROOT_PATH /usr/${ZANTO_MINGW_TRIPLE})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
endif()
# Test programs run under Wine through CTest, unless ZANTO_WINE is off (the
# default on a Windows host, where they run as they are).
if(NOT DEFINED ZANTO_WINE)
  if(CMAKE_HOST_WIN32)
    set(ZANTO_WINE OFF)
  else()
    set(ZANTO_WINE ON)
  endif()
endif()
set(ZANTO_WINE ${ZANTO_WINE} CACHE BOOL "Run the Windows test programs under Wine")
if(ZANTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
endif()
