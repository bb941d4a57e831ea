// A stand-in for a Java runtime's splash screen library: the launcher only loads it.
#ifdef _WIN32
#define RUNTIME_EXPORT extern "C" __declspec(dllexport)
#else
#define RUNTIME_EXPORT extern "C" __attribute__((visibility("default")))
#endif

RUNTIME_EXPORT int SplashInit() {
    return 0;
}
