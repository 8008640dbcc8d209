// Loads the tools library with dlopen while the lifecycle trace is on, then
// unloads it, and prints what happened:
//   catalog <number> <name>      for every catalog registered by the library
//   module <path>                the module record the library appended
//   step <+row|-row|attach>      the lifecycle trace, in order
#include <corewu/corewu.h>

#include <cstdio>
#include <dlfcn.h>

int main()
{
    TLifecycleTrace::Enable(true);
    const WORD before = GetCatalogCount();
    const std::size_t modulesBefore = g_pTheModuleList->Count();
    void* library = ::dlopen(ZANTH_TOOLS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::printf("dlopen failed: %s\n", ::dlerror());
        return 1;
    }
    for (WORD n = before + 1; n <= GetCatalogCount(); ++n) {
        TCatalogInfo info;
        GetCatalogInfo(n, info);
        std::printf("catalog %u %s|%s|%s|%u\n", n, info.name.AsAnsi().c_str(),
                    info.module.AsAnsi().c_str(), info.file.AsAnsi().c_str(),
                    static_cast<unsigned>(info.line));
    }
    for (std::size_t i = modulesBefore; i < g_pTheModuleList->Count(); ++i) {
        const TModuleRecord record = g_pTheModuleList->At(i);
        std::printf("module %d %s\n", record.value, record.path.AsAnsi().c_str());
    }
    if (::dlclose(library) != 0) {
        std::printf("dlclose failed\n");
        return 1;
    }
    for (const std::string& step : TLifecycleTrace::Steps()) {
        std::printf("step %s\n", step.c_str());
    }
    return 0;
}
