// The shipped Linux launchers run on glibc 2.17 and later, as the JDK's own builds do, although
// they are built against a newer one. The link (cmake/Launcher.cmake) takes libstdc++ and libgcc
// in statically and redirects, with --wrap, every reference to a function that a newer glibc
// gave a newer version (or brought first) to the wrapper of that name here. Each wrapper calls
// the oldest version, bound by .symver, or does the work with what 2.17 has. A symbol that
// still comes out newer than 2.17 fails the build's check of the launcher's dynamic symbols.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <link.h>
#include <locale.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#if defined(__x86_64__)
#define VT_GLIBC_BASE "GLIBC_2.2.5"
#define VT_GLIBC_DLADDR1 "GLIBC_2.3.3"
#define VT_STAT_VERSION 1 // _STAT_VER_LINUX: the kernel's struct stat
#elif defined(__aarch64__)
#define VT_GLIBC_BASE "GLIBC_2.17"
#define VT_GLIBC_DLADDR1 "GLIBC_2.17"
#define VT_STAT_VERSION 0
#else
#error "no glibc base version known for this architecture"
#endif

// "old_X" names X at the version given; the wrappers below call only these.
#define VT_OLD(name, version) __asm__(".symver old_" #name "," #name "@" version)

extern "C" {

using InitFunction = void (*)(int, char**, char**);
using MainFunction = int (*)(int, char**, char**);

int old___libc_start_main(MainFunction, int, char**, InitFunction, void (*)(), void (*)(), void*);
void* old_dlopen(const char*, int);
void* old_dlsym(void*, const char*);
char* old_dlerror();
int old_dladdr(const void*, Dl_info*);
int old_dladdr1(const void*, Dl_info*, void**, int);
int old_dlclose(void*);
int old_pthread_once(pthread_once_t*, void (*)());
int old___pthread_key_create(pthread_key_t*, void (*)(void*));
int old___xstat(int, const char*, struct stat*);
int old___lxstat(int, const char*, struct stat*);
int old___fxstat(int, int, struct stat*);
void* old_memcpy(void*, const void*, size_t);

VT_OLD(__libc_start_main, VT_GLIBC_BASE);
// dlopen and friends moved into libc in 2.34; before, they are libdl's, which the link names
// as needed so that the dynamic linker finds them there.
VT_OLD(dlopen, VT_GLIBC_BASE);
VT_OLD(dlsym, VT_GLIBC_BASE);
VT_OLD(dlerror, VT_GLIBC_BASE);
VT_OLD(dladdr, VT_GLIBC_BASE);
VT_OLD(dladdr1, VT_GLIBC_DLADDR1);
VT_OLD(dlclose, VT_GLIBC_BASE);
// Likewise libpthread's.
VT_OLD(pthread_once, VT_GLIBC_BASE);
VT_OLD(__pthread_key_create, VT_GLIBC_BASE);
// stat and its kin are functions of their own from 2.33; before, inline calls of these.
VT_OLD(__xstat, VT_GLIBC_BASE);
VT_OLD(__lxstat, VT_GLIBC_BASE);
VT_OLD(__fxstat, VT_GLIBC_BASE);
// x86-64's memcpy of 2.14 is the one that may not overlap; the older one is memmove, as safe.
VT_OLD(memcpy, VT_GLIBC_BASE);

// The executable's own constructors. A glibc of 2.34 or later finds them itself and its crt1
// passes no init function; an older one runs only what it is passed, as its crt1 did.
extern void _init();
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));

static void runConstructors(int argc, char** argv, char** envp) {
    _init();
    for (InitFunction* f = __init_array_start; f != __init_array_end; ++f) {
        (*f)(argc, argv, envp);
    }
}

int __wrap___libc_start_main(MainFunction main, int argc, char** argv, InitFunction init,
                             void (*fini)(), void (*rtldFini)(), void* stackEnd) {
    return old___libc_start_main(main, argc, argv, init ? init : runConstructors, fini, rtldFini,
                                 stackEnd);
}

void* __wrap_dlopen(const char* file, int mode) {
    return old_dlopen(file, mode);
}
void* __wrap_dlsym(void* handle, const char* name) {
    return old_dlsym(handle, name);
}
char* __wrap_dlerror() {
    return old_dlerror();
}
int __wrap_dladdr(const void* address, Dl_info* info) {
    return old_dladdr(address, info);
}
int __wrap_dlclose(void* handle) {
    return old_dlclose(handle);
}
int __wrap_pthread_once(pthread_once_t* once, void (*f)()) {
    return old_pthread_once(once, f);
}
int __wrap___pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
    return old___pthread_key_create(key, destructor);
}
int __wrap_stat(const char* path, struct stat* buf) {
    return old___xstat(VT_STAT_VERSION, path, buf);
}
int __wrap_lstat(const char* path, struct stat* buf) {
    return old___lxstat(VT_STAT_VERSION, path, buf);
}
int __wrap_fstat(int fd, struct stat* buf) {
    return old___fxstat(VT_STAT_VERSION, fd, buf);
}
// On 64-bit targets struct stat64 is struct stat.
int __wrap_fstat64(int fd, struct stat* buf) {
    return old___fxstat(VT_STAT_VERSION, fd, buf);
}
void* __wrap_memcpy(void* to, const void* from, size_t size) {
    return old_memcpy(to, from, size);
}

pid_t __wrap_gettid() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// The untranslated text, or null for a code without one; the C locale's strerror_l says
// "Unknown error" for those.
const char* __wrap_strerrordesc_np(int code) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t());
    const char* const text = cLocale ? strerror_l(code, cLocale) : nullptr;
    return text && strncmp(text, "Unknown error", 13) != 0 ? text : nullptr;
}

// libstdc++ skips its atomic reference counts while this says the process has one thread;
// without glibc's word for it, always count atomically.
char __wrap___libc_single_threaded = 0;

// The unwinder of libgcc asks for the object that holds an address and its unwind table; what
// glibc 2.35 answers, found as libgcc finds it without that function.
namespace {
struct ObjectSearch {
    std::uintptr_t pc;
    dl_find_object* result;
    bool found;
};

int searchObject(dl_phdr_info* info, size_t, void* data) {
    ObjectSearch& search = *static_cast<ObjectSearch*>(data);
    std::uintptr_t start = UINTPTR_MAX, end = 0;
    const void* ehFrame = nullptr;
    bool holds = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        const std::uintptr_t segment = info->dlpi_addr + header.p_vaddr;
        if (header.p_type == PT_LOAD) {
            start = segment < start ? segment : start;
            end = segment + header.p_memsz > end ? segment + header.p_memsz : end;
            holds = holds || (search.pc >= segment && search.pc < segment + header.p_memsz);
        } else if (header.p_type == PT_GNU_EH_FRAME) {
            ehFrame = reinterpret_cast<const void*>(segment);
        }
    }
    if (!holds) {
        return 0;
    }
    search.result->dlfo_flags = 0;
    search.result->dlfo_map_start = reinterpret_cast<void*>(start);
    search.result->dlfo_map_end = reinterpret_cast<void*>(end);
    search.result->dlfo_eh_frame = const_cast<void*>(ehFrame);
    search.found = true;
    return 1;
}
} // namespace

int __wrap__dl_find_object(void* pc, dl_find_object* result) {
    ObjectSearch search = {reinterpret_cast<std::uintptr_t>(pc), result, false};
    Dl_info info;
    link_map* map = nullptr;
    if (dl_iterate_phdr(searchObject, &search) == 0 || !search.found ||
        !old_dladdr1(pc, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) {
        return -1;
    }
    result->dlfo_link_map = map;
    return 0;
}

} // extern "C"
