// Two libraries of one source: a dependency, and a library that needs it.
#ifdef VT_DEPENDENCY
extern "C" int vtDependency() {
    return 1;
}
#else
extern "C" int vtDependency();
extern "C" int vtNeedsDependency() {
    return vtDependency();
}
#endif
