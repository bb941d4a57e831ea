// A stand-in for a Java runtime's virtual machine library: the launcher only loads it.
#ifdef _WIN32
#define RUNTIME_EXPORT extern "C" __declspec(dllexport)
#else
#define RUNTIME_EXPORT extern "C" __attribute__((visibility("default")))
#endif

RUNTIME_EXPORT int JNI_GetDefaultJavaVMInitArgs(void*) {
    return -1;
}
