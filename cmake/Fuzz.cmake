# libFuzzer targets: clang only, built by the "fuzz" preset, which already adds the sanitizers.
if(NOT VANTREL_FUZZ)
  return()
endif()

# Coverage for the code under test, the fuzzer's own main for the target.
foreach(floor vtplatform vtcommon vtupdate vtapplauncher)
  target_compile_options(${floor} PRIVATE -fsanitize=fuzzer-no-link)
endforeach()
target_compile_options(vtpe PRIVATE -fsanitize=fuzzer-no-link)

function(vantrel_fuzzer name library)
  add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/${name}.cpp)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${library})
endfunction()

# The launcher's configuration parser, jar manifest reader and update metadata reader; the
# resource writer's .ico and PE readers.
vantrel_fuzzer(CfgFileFuzzer vtapplauncher)
vantrel_fuzzer(JarManifestFuzzer vtapplauncher)
vantrel_fuzzer(UpdateMetadataFuzzer vtupdate)
vantrel_fuzzer(IcoFileFuzzer vtpe)
vantrel_fuzzer(PeImageFuzzer vtpe)
