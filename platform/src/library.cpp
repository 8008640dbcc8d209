// Modules loaded at run time: LoadLibraryW, GetProcAddress and FreeLibrary over
// dlopen. A module handle is the shared object's load address, as it is for
// GetModuleFileNameW; the table below keeps the dlopen handle behind each one.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <map>

namespace zanth::platform {
namespace {

struct LoadedModule
{
    void* handle;
    int loads;
};

struct ModuleTable
{
    std::mutex lock;
    std::map<HMODULE, LoadedModule> modules;
};

ModuleTable& Modules()
{
    static ModuleTable* table = new ModuleTable;
    return *table;
}

bool EndsWithDll(const std::string& name)
{
    if (name.size() < 4) {
        return false;
    }
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return tail == ".dll";
}

// Where "NAME.DLL" comes from: the file that ZANTH_DLL_NAME names, or libname.so
// found on the library path. `missing` is set when the variable is set but empty.
std::string FileToLoad(const std::string& name, bool& missing)
{
    missing = false;
    if (name.find('/') != std::string::npos || !EndsWithDll(name)) {
        return name;
    }
    const std::string stem = name.substr(0, name.size() - 4);
    std::string variable = ZANTH_DLL_ENV_PREFIX;
    std::string lower;
    for (char c : stem) {
        const bool upper = c >= 'A' && c <= 'Z';
        const bool small = c >= 'a' && c <= 'z';
        variable += static_cast<char>(small                               ? c - 'a' + 'A'
                                      : (upper || (c >= '0' && c <= '9')) ? c
                                                                          : '_');
        lower += static_cast<char>(upper ? c - 'A' + 'a' : c);
    }
    if (const char* named = std::getenv(variable.c_str())) {
        missing = *named == 0;
        return named;
    }
    return "lib" + lower + ".so";
}

HMODULE BaseOf(void* handle)
{
    link_map* map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) {
        return nullptr;
    }
    Dl_info info{};
    if (!::dladdr(map->l_ld, &info) || !info.dli_fbase) {
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(info.dli_fbase);
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR fileName)
{
    if (!fileName || !*fileName) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name;
    if (!PathFromName(fileName, name)) {
        return nullptr;
    }
    bool missing = false;
    const std::string file = FileToLoad(name, missing);
    if (missing) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && file.find('/') == std::string::npos) {
        // Not on the library path: the libraries that come with this one (the mail
        // provider) lie next to it, in the build tree as where it is installed.
        Dl_info self{};
        if (::dladdr(reinterpret_cast<void*>(&FileToLoad), &self) && self.dli_fname) {
            std::string beside = self.dli_fname;
            const std::string::size_type slash = beside.rfind('/');
            if (slash != std::string::npos) {
                beside = beside.substr(0, slash + 1) + file;
                handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
            }
        }
    }
    if (!handle) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE base = BaseOf(handle);
    if (!base) {
        ::dlclose(handle);
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ModuleTable& table = Modules();
    std::lock_guard<std::mutex> guard(table.lock);
    auto [entry, inserted] = table.modules.try_emplace(base, LoadedModule{handle, 0});
    if (!inserted) {
        // dlopen counted this load as well; the table keeps one handle per module.
        ::dlclose(handle);
    }
    ++entry->second.loads;
    return base;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    if (!module || !procName) {
        ::SetLastError(module ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* handle = nullptr;
    {
        ModuleTable& table = Modules();
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.modules.find(module);
        if (found != table.modules.end()) {
            handle = found->second.handle;
        }
    }
    void* symbol = nullptr;
    if (handle) {
        symbol = ::dlsym(handle, procName);
    } else {
        // A module this process did not load through LoadLibraryW (the program or
        // one of its libraries): look the name up in that object.
        Dl_info info{};
        if (!::dladdr(reinterpret_cast<void*>(module), &info) || !info.dli_fname ||
            info.dli_fbase != reinterpret_cast<void*>(module)) {
            ::SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        void* loaded = ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
        if (loaded) {
            symbol = ::dlsym(loaded, procName);
            ::dlclose(loaded);
        }
    }
    if (!symbol) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    void* handle = nullptr;
    {
        ModuleTable& table = Modules();
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.modules.find(module);
        if (found == table.modules.end()) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--found->second.loads == 0) {
            handle = found->second.handle;
            table.modules.erase(found);
        }
    }
    if (handle) {
        ::dlclose(handle);
    }
    return TRUE;
}

} // extern "C"
