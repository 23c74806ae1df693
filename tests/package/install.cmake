# Configures Tolvex from TOLVEX_SOURCE_DIR (tests, benchmarks and examples off) in TOLVEX_BUILD_DIR
# and installs it into TOLVEX_PREFIX, then checks the installed layout.
#   cmake -DTOLVEX_SOURCE_DIR=... -DTOLVEX_BUILD_DIR=... -DTOLVEX_PREFIX=...
#         [-DTOLVEX_GENERATOR=...] [-DTOLVEX_CXX_COMPILER=...] -P install.cmake
cmake_minimum_required(VERSION 3.25)

foreach(var IN ITEMS TOLVEX_SOURCE_DIR TOLVEX_BUILD_DIR TOLVEX_PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${TOLVEX_BUILD_DIR}" "${TOLVEX_PREFIX}")

set(configure_args
  -S "${TOLVEX_SOURCE_DIR}" -B "${TOLVEX_BUILD_DIR}"
  "-DCMAKE_INSTALL_PREFIX=${TOLVEX_PREFIX}"
  -DTOLVEX_BUILD_TESTS=OFF -DTOLVEX_BUILD_BENCHMARKS=OFF -DTOLVEX_BUILD_EXAMPLES=OFF)
if(TOLVEX_GENERATOR)
  list(APPEND configure_args -G "${TOLVEX_GENERATOR}")
endif()
if(TOLVEX_CXX_COMPILER)
  list(APPEND configure_args "-DCMAKE_CXX_COMPILER=${TOLVEX_CXX_COMPILER}")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" ${configure_args} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${TOLVEX_BUILD_DIR}"
  COMMAND_ERROR_IS_FATAL ANY)

foreach(file IN ITEMS
    include/tolvex/tolvex.hpp
    share/cmake/tolvex/tolvexConfig.cmake
    share/cmake/tolvex/tolvexConfigVersion.cmake
    share/cmake/tolvex/tolvexTargets.cmake)
  if(NOT EXISTS "${TOLVEX_PREFIX}/${file}")
    message(FATAL_ERROR "install.cmake: ${file} was not installed into ${TOLVEX_PREFIX}")
  endif()
endforeach()
message(STATUS "Tolvex installed into ${TOLVEX_PREFIX}")
