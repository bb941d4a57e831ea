# libFuzzer targets: clang only, built by the "fuzz" preset, which already adds the sanitizers.
if(NOT VANTREL_FUZZ)
  return()
endif()

# Coverage for the code under test, the fuzzer's own main for the target.
target_compile_options(vtcore PRIVATE -fsanitize=fuzzer-no-link)

# The configuration parser, and the jar manifest reader of the class-data archive's key.
foreach(fuzzer CfgFileFuzzer JarManifestFuzzer)
  add_executable(${fuzzer} ${CMAKE_SOURCE_DIR}/tests/fuzz/${fuzzer}.cpp)
  target_compile_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${fuzzer} PRIVATE vtcore)
endforeach()

# The .ico and PE readers of the resource writer.
target_compile_options(vtpe PRIVATE -fsanitize=fuzzer-no-link)
foreach(fuzzer IcoFileFuzzer PeImageFuzzer)
  add_executable(${fuzzer} ${CMAKE_SOURCE_DIR}/tests/fuzz/${fuzzer}.cpp)
  target_compile_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${fuzzer} PRIVATE vtpe)
endforeach()
