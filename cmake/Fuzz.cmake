# libFuzzer targets: clang only, built by the "fuzz" preset, which already adds the sanitizers.
if(NOT VANTREL_FUZZ)
  return()
endif()

# Coverage for the code under test, the fuzzer's own main for the target.
target_compile_options(vtcore PRIVATE -fsanitize=fuzzer-no-link)

add_executable(CfgFileFuzzer ${CMAKE_SOURCE_DIR}/tests/fuzz/CfgFileFuzzer.cpp)
target_compile_options(CfgFileFuzzer PRIVATE -fsanitize=fuzzer)
target_link_options(CfgFileFuzzer PRIVATE -fsanitize=fuzzer)
target_link_libraries(CfgFileFuzzer PRIVATE vtcore)
