# Benchmarks: built with the tests, run by hand. Timings mean something only in a native,
# unsanitized build.
if(CMAKE_CROSSCOMPILING OR WIN32 OR VANTREL_SANITIZE OR VANTREL_FUZZ)
  return()
endif()

find_package(benchmark REQUIRED)

add_executable(CfgFileBench ${CMAKE_SOURCE_DIR}/tests/bench/CfgFileBench.cpp)
target_link_libraries(CfgFileBench PRIVATE vttestsupport benchmark::benchmark)
