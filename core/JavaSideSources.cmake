# The portable Java-launch sources (parameter splitting, variable expansion, the
# JNI core) and where their jni.h comes from: the build machine's JDK, paired with
# the project's own jni_md.h in the Windows builds.
set(ZANTO_JDK_HOME /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "JDK that compiles the runtime and gives jni.h")
if(NOT EXISTS ${ZANTO_JDK_HOME}/include/jni.h)
  message(FATAL_ERROR "No jni.h in ${ZANTO_JDK_HOME}/include: install openjdk-17-jdk-headless or set ZANTO_JDK_HOME")
endif()

target_sources(zanto_portable PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ParameterSplitter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VariableExpansion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JniLaunch.cpp
)
if(WIN32)
  set(ZANTO_JNI_MD_DIR ${CMAKE_CURRENT_LIST_DIR}/jni)
else()
  set(ZANTO_JNI_MD_DIR ${ZANTO_JDK_HOME}/include/linux)
endif()
set(ZANTO_JNI_INCLUDE_DIRS ${ZANTO_JDK_HOME}/include ${ZANTO_JNI_MD_DIR} CACHE INTERNAL "")
target_include_directories(zanto_portable SYSTEM PUBLIC ${ZANTO_JNI_INCLUDE_DIRS})
