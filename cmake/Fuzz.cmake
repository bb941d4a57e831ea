# libFuzzer targets: clang only, built by the "fuzz" preset, which already adds the sanitizers.
if(NOT VANTREL_FUZZ)
  return()
endif()

# Coverage for the code under test, the fuzzer's own main for the target.
target_compile_options(vtcore PRIVATE -fsanitize=fuzzer-no-link)
target_compile_options(vtpe PRIVATE -fsanitize=fuzzer-no-link)

function(vantrel_fuzzer name library)
  add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/${name}.cpp)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${library})
endfunction()

# The launcher's configuration parser and jar manifest reader; the resource writer's .ico and
# PE readers.
vantrel_fuzzer(CfgFileFuzzer vtcore)
vantrel_fuzzer(JarManifestFuzzer vtcore)
vantrel_fuzzer(IcoFileFuzzer vtpe)
vantrel_fuzzer(PeImageFuzzer vtpe)
