// A child process for the leak checker's tests. The checker decides at library load
// (from "memory.txt" in $TMPDIR and the answer to a box) whether it records or
// replays, so the box must be answered before the tools library's objects are
// built: this program links only the base library, installs a message-box handler,
// then loads libzanthtools.so with dlopen, runs a script of registrations and
// unloads it.
//
// Usage: child_load_memcheck <yes|no> <command>...
//   flex:<slot>:<size>   a ZCFlexibleMemory in slot 0..15 reserves <size> bytes
//   release:<slot>       releases it
//   new:<id>             TMemoryCheck::New on block <id> (0..1023), size <id>
//   delete:<id>          TMemoryCheck::Delete on block <id>
//   threads:<n>:<count>  n threads each register <count> blocks of their own and
//                        delete all of them but their first, interleaved
// Standard output gets one line per box ("BOX <type> <caption>|<text>"), one per
// leak-checker log line ("LOG <text>") and "UNLOADED" after dlclose.
#include <corewu/corewu.h>

#include <zanth/win32/zanthext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int g_Answer = IDYES;

void Print(const std::string& line)
{
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

int AnswerBox(HWND, LPCWSTR text, LPCWSTR caption, UINT type, void*)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", type);
    Print(std::string("BOX ") + hex + " " + TString(caption).AsAnsi() + "|" +
          TString(text).AsAnsi());
    return (type & MB_TYPEMASK) == MB_YESNO ? g_Answer : IDOK;
}

class LeakLog : public TLogSink
{
public:
    void Line(int, const TString& text) override
    {
        const std::string line = text.AsAnsi();
        if (line.rfind("TMemoryCheck", 0) == 0) {
            Print("LOG " + line);
        }
    }
};

[[noreturn]] void Fail(const std::string& what)
{
    Print("ERROR " + what);
    std::_Exit(2);
}

void* Symbol(void* library, const char* name)
{
    void* symbol = ::dlsym(library, name);
    if (!symbol) {
        Fail(std::string("missing symbol ") + name);
    }
    return symbol;
}

// Storage for ZCFlexibleMemory objects, built and used through the library's
// exported functions (the tools headers are not used here).
struct alignas(16) FlexSlot
{
    unsigned char bytes[128];
};

char g_Blocks[1024];

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        Fail("usage: child_load_memcheck <yes|no> <command>...");
    }
    g_Answer = std::strcmp(argv[1], "yes") == 0 ? IDYES : IDNO;
    ZanthSetMessageBoxHandler(&AnswerBox, nullptr);
    g_ptheLogfile->AddSink(new LeakLog);

    void* library = ::dlopen(ZANTH_TOOLS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        Fail(std::string("dlopen: ") + ::dlerror());
    }
    using NewFn = void (*)(void*, LONG);
    using DeleteFn = void (*)(void*);
    using ConstructFn = void (*)(void*);
    using ReserveFn = void (*)(void*, LONG);
    using ReleaseFn = void (*)(void*);
    auto newBlock = reinterpret_cast<NewFn>(Symbol(library, "_ZN12TMemoryCheck3NewEPvi"));
    auto deleteBlock = reinterpret_cast<DeleteFn>(Symbol(library, "_ZN12TMemoryCheck6DeleteEPv"));
    auto construct = reinterpret_cast<ConstructFn>(Symbol(library, "_ZN16ZCFlexibleMemoryC1Ev"));
    auto reserve = reinterpret_cast<ReserveFn>(Symbol(library, "_ZN16ZCFlexibleMemory7ReserveEi"));
    auto release = reinterpret_cast<ReleaseFn>(Symbol(library, "_ZN16ZCFlexibleMemory7ReleaseEv"));

    static FlexSlot slots[16];
    bool built[16] = {};
    for (int i = 2; i < argc; ++i) {
        const std::string command = argv[i];
        const std::string::size_type colon = command.find(':');
        const std::string verb = command.substr(0, colon);
        const std::string rest = colon == std::string::npos ? "" : command.substr(colon + 1);
        const int first = std::atoi(rest.c_str());
        const std::string::size_type colon2 = rest.find(':');
        const int second = colon2 == std::string::npos ? 0 : std::atoi(rest.c_str() + colon2 + 1);
        if (verb == "flex" && first >= 0 && first < 16) {
            if (!built[first]) {
                construct(&slots[first]);
                built[first] = true;
            }
            reserve(&slots[first], second);
        } else if (verb == "release" && first >= 0 && first < 16 && built[first]) {
            release(&slots[first]);
        } else if (verb == "new" && first >= 0 && first < 1024) {
            newBlock(&g_Blocks[first], first);
        } else if (verb == "delete" && first >= 0 && first < 1024) {
            deleteBlock(&g_Blocks[first]);
        } else if (verb == "threads" && first > 0 && second > 0) {
            std::vector<std::vector<char>> blocks(
                static_cast<std::size_t>(first),
                std::vector<char>(static_cast<std::size_t>(second)));
            std::vector<std::thread> threads;
            for (int t = 0; t < first; ++t) {
                threads.emplace_back([&, t] {
                    std::vector<char>& mine = blocks[static_cast<std::size_t>(t)];
                    for (int k = 0; k < second; ++k) {
                        newBlock(&mine[static_cast<std::size_t>(k)], k);
                        if (k >= 2) {
                            deleteBlock(&mine[static_cast<std::size_t>(k - 1)]);
                        }
                    }
                    if (second >= 2) {
                        deleteBlock(&mine[static_cast<std::size_t>(second - 1)]);
                    }
                });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
        } else {
            Fail("bad command " + command);
        }
    }
    // The reservations still held stay registered: they are the leaks.
    ::dlclose(library);
    Print("UNLOADED");
    return 0;
}
