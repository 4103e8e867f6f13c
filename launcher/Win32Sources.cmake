# Win32 parts of the launcher, and the launcher executable itself.
add_library(zanto_win STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeletionQueue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ErrorReport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigBlock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TempDir.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Extraction.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LauncherMain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Preparation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JvmEntry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServiceCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServiceMain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JavaCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackedJre.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinLoader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LaunchText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClassPath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JavaVMLauncher.cpp
)
target_link_libraries(zanto_win PUBLIC zanto_portable)
# The system runtime's own printf (not mingw's) keeps the launcher small.
target_compile_definitions(zanto_win PUBLIC _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN __USE_MINGW_ANSI_STDIO=0)
target_compile_definitions(zanto_portable PUBLIC __USE_MINGW_ANSI_STDIO=0)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(ZANTO_ARCH x86)
else()
  set(ZANTO_ARCH x64)
endif()
add_executable(zanto-launcher ${CMAKE_CURRENT_LIST_DIR}/Main.cpp)
set_target_properties(zanto-launcher PROPERTIES OUTPUT_NAME zanto-launcher-${ZANTO_ARCH})
target_link_libraries(zanto-launcher PRIVATE zanto_win)
install(TARGETS zanto-launcher RUNTIME DESTINATION .)
# The launcher catches no exceptions; without them it links no unwinder.
target_compile_options(zanto_win PRIVATE -fno-exceptions -fno-rtti)
target_compile_options(zanto-launcher PRIVATE -fno-exceptions -fno-rtti)
