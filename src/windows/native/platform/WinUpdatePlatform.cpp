// The update check's hashes and signatures (CNG), its question, and the installer's run.
#include "WinApi.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "UpdatePlatform.h"
#include "WinHandle.h"

namespace UpdatePlatform {

namespace {

struct ProviderCloser {
    void operator()(void* handle) const { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct HashDestroyer {
    void operator()(void* handle) const { BCryptDestroyHash(handle); }
};
struct KeyDestroyer {
    void operator()(void* handle) const { BCryptDestroyKey(handle); }
};

std::unique_ptr<void, ProviderCloser> provider(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    const NTSTATUS status = BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0);
    if (status < 0) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"BCryptOpenAlgorithmProvider(" << algorithm << L") failed with "
                 << tstrings::format(L"0x%08lx", static_cast<unsigned long>(status)));
    }
    return std::unique_ptr<void, ProviderCloser>(handle);
}

// Feeds the hash from read until read gives nothing more.
template <class Read>
std::string hashOf(Read read) {
    const auto algorithm = provider(BCRYPT_SHA256_ALGORITHM);
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (BCryptCreateHash(algorithm.get(), &handle, nullptr, 0, nullptr, 0, 0) < 0) {
        VT_RAISE("BCryptCreateHash(SHA256) failed");
    }
    const std::unique_ptr<void, HashDestroyer> hash(handle);
    std::vector<UCHAR> buffer(65536);
    for (ULONG got; (got = read(buffer.data(), static_cast<ULONG>(buffer.size()))) != 0;) {
        if (BCryptHashData(handle, buffer.data(), got, 0) < 0) {
            VT_RAISE("BCryptHashData failed");
        }
    }
    std::string digest(32, '\0');
    if (BCryptFinishHash(handle, reinterpret_cast<PUCHAR>(&digest[0]), 32, 0) < 0) {
        VT_RAISE("BCryptFinishHash failed");
    }
    return digest;
}

} // namespace

bool supported() {
    return true;
}

std::string sha256(const std::string& data) {
    std::size_t pos = 0;
    return hashOf([&data, &pos](UCHAR* buffer, ULONG size) {
        const std::size_t part = std::min<std::size_t>(size, data.size() - pos);
        std::memcpy(buffer, data.data() + pos, part);
        pos += part;
        return static_cast<ULONG>(part);
    });
}

std::string sha256OfFile(const tstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        raiseFailedFileCall("CreateFile", path, functionAddress(&CreateFileW));
    }
    return hashOf([&file, &path](UCHAR* buffer, ULONG size) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, size, &got, nullptr)) {
            raiseFailedFileCall("ReadFile", path, functionAddress(&ReadFile));
        }
        return static_cast<ULONG>(got);
    });
}

bool verifySignature(const std::string& publicKey, const std::string& data,
                     const std::string& signature) {
    if (publicKey.size() != 64 || signature.size() != 64) {
        return false;
    }
    const auto algorithm = provider(BCRYPT_ECDSA_P256_ALGORITHM);
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(&blob[0], &header, sizeof(header));
    blob += publicKey;
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle,
                            reinterpret_cast<PUCHAR>(&blob[0]), static_cast<ULONG>(blob.size()),
                            0) < 0) {
        return false; // no point of the curve
    }
    const std::unique_ptr<void, KeyDestroyer> key(handle);
    std::string digest = sha256(data);
    std::string copy = signature;
    return BCryptVerifySignature(handle, nullptr, reinterpret_cast<PUCHAR>(&digest[0]), 32,
                                 reinterpret_cast<PUCHAR>(&copy[0]), 64, 0) >= 0;
}

bool canAsk() {
    // The executable's own subsystem: the windowed launcher is built for the GUI one.
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

bool ask(const tstring& title, const tstring& text) {
    return MessageBoxW(nullptr, text.c_str(), title.c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

void waitForProcess(std::uint64_t processId) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
    if (process) {
        WaitForSingleObject(process.get(), INFINITE);
    }
}

std::uint32_t runInstaller(const tstring& package) {
    const tstring program = FileUtils::joinPath(SysInfo::getSystemDir(), L"msiexec.exe");
    tstring commandLine = L"\"" + program + L"\" /i \"" + package + L"\" /passive";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info)) {
        raiseFailedFileCall("CreateProcess", program, functionAddress(&CreateProcessW));
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    // An installer that hangs is left to the user; the launcher stops waiting.
    const DWORD limitMs = 30 * 60 * 1000;
    DWORD code = 1;
    if (WaitForSingleObject(process.get(), limitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code)) {
        VT_RAISE(tstrings::TextBuilder()
                 << program << L" did not end within " << limitMs << L" ms");
    }
    return code;
}

} // namespace UpdatePlatform
