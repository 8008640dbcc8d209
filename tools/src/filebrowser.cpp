// The file browser: lists a directory by a mask with the Win32 find calls,
// optionally through all its subdirectories.
//
// The walk keeps its own stack of open searches instead of recursing, so a tree of
// any depth lists without exhausting the machine stack; the order of the results is
// the one a depth-first recursion gives. Each directory entered is remembered by its
// identity while the walk is below it, and a subdirectory that is already on the way
// down (a symbolic link to a parent) is not entered again.
#include <corewu/errors.h>
#include <zanth/filebrowser.h>
#include <zanth/progress.h>

#include <zanth/win32/zanthext.h>

#include <memory>
#include <new>
#include <set>
#include <utility>

namespace {

#ifdef _WIN32
constexpr WCHAR kSeparator = TEXT('\\');
#else
constexpr WCHAR kSeparator = TEXT('/');
#endif
constexpr WCHAR kSeparatorText[] = {kSeparator, 0};

// The directory with its trailing separators removed, plus one separator.
TString PrefixOf(const WCHAR* directory)
{
    TString prefix(directory);
    prefix.StripTail(kSeparatorText);
    prefix += kSeparator;
    return prefix;
}

bool IsDotName(const WCHAR* name)
{
    return name[0] == TEXT('.') && (name[1] == 0 || (name[1] == TEXT('.') && name[2] == 0));
}

void CheckArguments(const WCHAR* directory, const WCHAR* mask, const void* out)
{
    if (!directory || !mask || !out) {
        ThrowNewError(0, 0,
                      TString(TEXT("The file browser needs a directory, a mask and an output ")
                                  TEXT("container; one of them is missing.")),
                      TString::NullString, TString::NullString, nullptr);
    }
}

using Identity = std::pair<ULONGLONG, ULONGLONG>;

// Where the walk puts a path: `top` receives the files of the starting directory's
// own search, `below` everything else (for GetFileList both are the caller's list).
struct Sinks
{
    void* context;
    void (*top)(void* context, TString&& path);
    void (*below)(void* context, TString&& path);
};

class Walk
{
public:
    Walk(const WCHAR* mask, UINT recurse, bool listTopDirectories, const Sinks& sinks)
        : m_Mask(mask), m_Recurse(recurse != 0), m_ListTopDirectories(listTopDirectories),
          m_Sinks(sinks)
    {}

    void Run(const WCHAR* directory)
    {
        TString prefix = PrefixOf(directory);
        // A recursive listing reports its progress to the thread's view, if there
        // is one: a step per entry of the starting directory (or per subdirectory
        // when nothing there matches), each step spanning all that lies below it.
        std::unique_ptr<TProgress> progress;
        if (m_Recurse) {
            progress = std::make_unique<TProgress>(TEXT("listing"), 0, CountTopSteps(prefix), 0);
            m_pProgress = progress.get();
        }
        Enter(std::move(prefix), nullptr);
        while (!m_Frames.empty()) {
            Frame& frame = *m_Frames.back();
            if (frame.find != INVALID_HANDLE_VALUE) {
                StepSearch(frame);
            } else {
                StepDescent(frame);
            }
        }
    }

private:
    // One directory on the way down: either an open search, or (when nothing in it
    // matched the mask) the list of its subdirectories still to be descended into.
    struct Frame
    {
        HANDLE find = INVALID_HANDLE_VALUE;
        WIN32_FIND_DATAW data;
        bool havePending = false;
        TString prefix;
        std::list<TString> directories;
        bool remembered = false;
        Identity identity;
        std::set<Identity>* onPath = nullptr;

        Frame() = default;
        Frame(const Frame&) = delete;
        Frame& operator=(const Frame&) = delete;
        ~Frame()
        {
            if (find != INVALID_HANDLE_VALUE) {
                ::FindClose(find);
            }
            if (remembered) {
                onPath->erase(identity);
            }
        }
    };

    bool TopLevel() const { return m_Frames.size() == 1; }

    // The steps the starting directory will take: the entries its search finds (dot
    // entries aside), or its subdirectories when the search finds nothing.
    LONG CountTopSteps(const TString& prefix)
    {
        auto count = [](const TString& pattern, bool directoriesOnly) {
            LONG steps = 0;
            WIN32_FIND_DATAW data;
            HANDLE find = ::FindFirstFileW(pattern, &data);
            if (find == INVALID_HANDLE_VALUE) {
                return steps;
            }
            do {
                if (!IsDotName(data.cFileName) &&
                    (!directoriesOnly || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
                    ++steps;
                }
            } while (::FindNextFileW(find, &data) && steps < 0x7FFFFFFF);
            ::FindClose(find);
            return steps;
        };
        const LONG matching = count(prefix + m_Mask, false);
        return matching > 0 ? matching : count(prefix + TEXT("*.*"), true);
    }

    void TopStep()
    {
        if (m_pProgress && TopLevel()) {
            m_pProgress->Do(1);
        }
    }

    // Opens the search of one directory (given as its prefix) and pushes its frame.
    void Enter(TString prefix, const TString* path)
    {
        auto frame = std::make_unique<Frame>();
        frame->onPath = &m_OnPath;
        if (m_Recurse) {
            ULONGLONG volume = 0;
            ULONGLONG index = 0;
            const WCHAR* name = path ? path->c_str() : prefix.c_str();
            if (!ZanthGetFileIdentity(name, &volume, &index)) {
                return; // vanished or unreadable: it adds nothing
            }
            frame->identity = Identity(volume, index);
            if (!m_OnPath.insert(frame->identity).second) {
                return; // already on the way down: a loop
            }
            frame->remembered = true;
        }
        const TString pattern = prefix + m_Mask;
        frame->find = ::FindFirstFileW(pattern, &frame->data);
        frame->prefix = std::move(prefix);
        if (frame->find != INVALID_HANDLE_VALUE) {
            frame->havePending = true;
        } else if (m_Recurse) {
            ListSubdirectories(*frame);
        } else {
            return;
        }
        m_Frames.push_back(std::move(frame));
    }

    // Nothing in the directory matches: its subdirectories would never be met by
    // the search, so they are collected here and descended into one by one.
    void ListSubdirectories(Frame& frame)
    {
        std::list<TString> entries;
        WIN32_FIND_DATAW data;
        const TString pattern = frame.prefix + TEXT("*.*");
        HANDLE find = ::FindFirstFileW(pattern, &data);
        if (find == INVALID_HANDLE_VALUE) {
            return;
        }
        struct Closer
        {
            HANDLE handle;
            ~Closer() { ::FindClose(handle); }
        } closer{find};
        do {
            if (!IsDotName(data.cFileName)) {
                entries.push_back(frame.prefix + data.cFileName);
            }
        } while (::FindNextFileW(find, &data));
        for (TString& entry : entries) {
            const DWORD attributes = ::GetFileAttributesW(entry);
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                frame.directories.push_back(std::move(entry));
            }
        }
    }

    void StepSearch(Frame& frame)
    {
        if (!frame.havePending && !::FindNextFileW(frame.find, &frame.data)) {
            m_Frames.pop_back();
            return;
        }
        frame.havePending = false;
        const bool top = TopLevel();
        if (!IsDotName(frame.data.cFileName)) {
            TopStep();
        }
        TString path = frame.prefix + frame.data.cFileName;
        if ((frame.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (IsDotName(frame.data.cFileName)) {
                return;
            }
            if (m_Recurse) {
                TString prefix = path + kSeparator;
                Enter(std::move(prefix), &path);
            } else if (!top || m_ListTopDirectories) {
                (top ? m_Sinks.top : m_Sinks.below)(m_Sinks.context, std::move(path));
            }
            return;
        }
        (top ? m_Sinks.top : m_Sinks.below)(m_Sinks.context, std::move(path));
    }

    void StepDescent(Frame& frame)
    {
        if (frame.directories.empty()) {
            m_Frames.pop_back();
            return;
        }
        TString path = std::move(frame.directories.front());
        frame.directories.pop_front();
        TopStep();
        Enter(PrefixOf(path), &path);
    }

    TString m_Mask;
    bool m_Recurse;
    bool m_ListTopDirectories;
    Sinks m_Sinks;
    // Declared before the frames, which take themselves off it when they go.
    std::set<Identity> m_OnPath;
    std::vector<std::unique_ptr<Frame>> m_Frames;
    TProgress* m_pProgress = nullptr; // the recursive listing's record, if any
};

template <class Container> void Append(void* context, TString&& path)
{
    static_cast<Container*>(context)->push_back(std::move(path));
}

} // namespace

VFileBrowser* VFileBrowser::CreateClass()
{
    return new (std::nothrow) IFileBrowser;
}

void VFileBrowser::DestroyClass(VFileBrowser** pp)
{
    if (!pp || !*pp) {
        return;
    }
    delete dynamic_cast<IFileBrowser*>(*pp);
    *pp = nullptr;
}

IFileBrowser::~IFileBrowser() = default;

void IFileBrowser::GetFileList(const WCHAR* directory, const WCHAR* mask, std::list<TString>* out,
                               UINT recurse, UINT clear)
{
    CheckArguments(directory, mask, out);
    if (clear) {
        out->clear();
    }
    const Sinks sinks{out, &Append<std::list<TString>>, &Append<std::list<TString>>};
    Walk(mask, recurse, true, sinks).Run(directory);
}

void IFileBrowser::GetFileVector(const WCHAR* directory, const WCHAR* mask,
                                 std::vector<TString>* out, UINT recurse, UINT clear)
{
    CheckArguments(directory, mask, out);
    if (clear) {
        out->clear();
    }
    // The directory's own files go straight to out; what lies below is collected
    // apart and follows them.
    struct Both
    {
        std::vector<TString>* out;
        std::list<TString> below;
    } both{out, {}};
    const Sinks sinks{&both,
                      [](void* context, TString&& path) {
                          static_cast<Both*>(context)->out->push_back(std::move(path));
                      },
                      [](void* context, TString&& path) {
                          static_cast<Both*>(context)->below.push_back(std::move(path));
                      }};
    Walk(mask, recurse, false, sinks).Run(directory);
    out->reserve(out->size() + both.below.size());
    for (TString& path : both.below) {
        out->push_back(std::move(path));
    }
}

PFileBrowser::PFileBrowser() : TSmartPtr<VFileBrowser>(VFileBrowser::CreateClass()) {}

PFileBrowser::~PFileBrowser()
{
    VFileBrowser* browser = Detach();
    VFileBrowser::DestroyClass(&browser);
}
