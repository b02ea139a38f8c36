# Builds jvm.dll for Wine (jvmbridge/) as a project of its own: it is
# compiled with winegcc for the build machine, so none of the mingw
# toolchain settings of this build may reach it.
#
# Output: ${JVMBRIDGE_DLL} = <build>/jvmbridge/jvm.dll.so, to be copied as
# jvm.dll where the service loads its virtual machine library.
include(ExternalProject)

find_program(JVMBRIDGE_WINEGCC winegcc NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(JVMBRIDGE_BINARY_DIR ${CMAKE_BINARY_DIR}/jvmbridge)
set(JVMBRIDGE_DLL ${JVMBRIDGE_BINARY_DIR}/jvm.dll.so)

ExternalProject_Add(jvmbridge
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/jvmbridge
  BINARY_DIR ${JVMBRIDGE_BINARY_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/jvmbridge-prefix
  CMAKE_ARGS
    -DCMAKE_C_COMPILER=${JVMBRIDGE_WINEGCC}
    -DCMAKE_BUILD_TYPE=Release
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${JVMBRIDGE_DLL})

# The bridge's own tests run with the rest: ctest of the sub-build.
add_test(NAME jvmbridge
  COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${JVMBRIDGE_BINARY_DIR} --output-on-failure)
set_tests_properties(jvmbridge PROPERTIES TIMEOUT 900)
wine_test(jvmbridge 2)
