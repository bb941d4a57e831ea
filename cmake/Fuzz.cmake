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

# The .ico and PE readers of the resource writer.
target_compile_options(vtpe PRIVATE -fsanitize=fuzzer-no-link)
foreach(fuzzer IcoFileFuzzer PeImageFuzzer)
  add_executable(${fuzzer} ${CMAKE_SOURCE_DIR}/tests/fuzz/${fuzzer}.cpp)
  target_compile_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${fuzzer} PRIVATE vtpe)
endforeach()
