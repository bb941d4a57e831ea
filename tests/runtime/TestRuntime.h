#ifndef VANTREL_TESTRUNTIME_H
#define VANTREL_TESTRUNTIME_H

#include "FileUtils.h"
#include "TestSupport.h"
#include "tstrings.h"

// Where the build puts the test runtime (cmake/TestRuntimes.cmake), and its libraries inside
// any runtime image laid out the same way.
namespace testruntime {

#ifdef _WIN32
inline const wchar_t* libDirName() {
    return L"bin";
}
inline tstring libFileName(const tstring& name) {
    return name + L".dll";
}
#else
inline const wchar_t* libDirName() {
    return L"lib";
}
inline tstring libFileName(const tstring& name) {
    return L"lib" + name + L".so";
}
#endif

// The runtime image the build made, beside the directory of the test binary.
inline tstring builtDir() {
    return FileUtils::joinPath(FileUtils::parentPath(testsupport::binaryDir()), L"testruntime");
}

inline tstring jliPath(const tstring& runtimeDir = builtDir()) {
    return FileUtils::PathBuilder() << runtimeDir << libDirName() << libFileName(L"jli");
}

inline tstring jvmPath(const tstring& runtimeDir = builtDir()) {
    return FileUtils::PathBuilder()
           << runtimeDir << libDirName() << L"server" << libFileName(L"jvm");
}

inline tstring splashScreenPath(const tstring& runtimeDir = builtDir()) {
    return FileUtils::PathBuilder() << runtimeDir << libDirName() << libFileName(L"splashscreen");
}

// Copies the three libraries into a runtime image at runtimeDir.
inline void install(const tstring& runtimeDir) {
    testsupport::makeDirectories(FileUtils::parentPath(jvmPath(runtimeDir)));
    testsupport::writeFile(jliPath(runtimeDir), testsupport::readFile(jliPath()));
    testsupport::writeFile(jvmPath(runtimeDir), testsupport::readFile(jvmPath()));
    testsupport::writeFile(splashScreenPath(runtimeDir), testsupport::readFile(splashScreenPath()));
}

} // namespace testruntime

#endif
