// TMemoryCheck: the memory leak checker. Its list, report path, report file name
// and the checker object itself are library-wide objects defined in globals.cpp;
// the state below is constant-initialised, so it is valid before any of them is
// built and after all of them are gone.
//
// Blocks are kept in registration order in the element list (the report is written
// in that order) and also in a hash index keyed by pointer, so that Delete finds the
// most recent registration of a pointer in constant time on average: a bucket's
// chain holds newer registrations before older ones.
#include <corewu/errors.h>
#include <corewu/file.h>
#include <corewu/log.h>
#include <zanth/memcheck.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// One registered block.
class TMemoryCheckElement : public TListElement
{
public:
    TMemoryCheckElement(void* pointer, LONG size, LONG sequence)
        : m_pPointer(pointer), m_Size(size), m_Sequence(sequence)
    {}

    void* m_pPointer;
    LONG m_Size;
    LONG m_Sequence;
    // The next element of the same hash bucket (an older registration).
    TMemoryCheckElement* m_pHashNext = nullptr;
};

// Guards the element list, the index, the counters and the replay numbers.
// std::mutex is constant-initialised and trivially destructible here.
std::mutex g_Lock;

LONG g_AllocationCounter = 0;
// The sequence number at which replay next stops; -1: none.
LONG g_NextLeak = -1;

// The recorded run's sequence numbers (replay mode), read once from the report.
LONG* g_pLeaks = nullptr;
std::size_t g_LeakCount = 0;
// Index in g_pLeaks of g_NextLeak.
std::size_t g_LeakIndex = 0;
bool g_LeaksLoaded = false;

// The hash index: buckets of chains through m_pHashNext.
TMemoryCheckElement** g_pBuckets = nullptr;
std::size_t g_BucketCount = 0;
std::size_t g_IndexedCount = 0;

std::size_t BucketOf(const void* p, std::size_t count)
{
    // Blocks are at least 8-byte aligned; mix the higher bits in as well.
    auto key = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
    key ^= key >> 29;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 32;
    return static_cast<std::size_t>(key) & (count - 1);
}

void IndexInsertRaw(TMemoryCheckElement* element)
{
    TMemoryCheckElement*& head = g_pBuckets[BucketOf(element->m_pPointer, g_BucketCount)];
    element->m_pHashNext = head;
    head = element;
}

void FreeIndex()
{
    delete[] g_pBuckets;
    g_pBuckets = nullptr;
    g_BucketCount = 0;
    g_IndexedCount = 0;
}

// Rebuilds the index with `count` buckets from the list, oldest first, so that in
// every chain newer registrations stay in front of older ones.
void Rehash(const TList& list, std::size_t count)
{
    // The new table first: if it cannot be had, the old one stays whole.
    auto* buckets = new TMemoryCheckElement*[count]();
    delete[] g_pBuckets;
    g_pBuckets = buckets;
    g_BucketCount = count;
    for (TListElement* e = list.GetHead(); e != nullptr; e = e->Next()) {
        IndexInsertRaw(static_cast<TMemoryCheckElement*>(e));
    }
}

// The element is already at the list's tail.
void IndexInsert(const TList& list, TMemoryCheckElement* element)
{
    if (g_IndexedCount + 1 > g_BucketCount) {
        Rehash(list, g_BucketCount == 0 ? 64 : g_BucketCount * 2);
    } else {
        IndexInsertRaw(element);
    }
    ++g_IndexedCount;
}

// Takes the most recent registration of p out of the index.
TMemoryCheckElement* IndexTake(const void* p)
{
    if (g_BucketCount == 0) {
        return nullptr;
    }
    TMemoryCheckElement** link = &g_pBuckets[BucketOf(p, g_BucketCount)];
    for (TMemoryCheckElement* e = *link; e != nullptr; link = &e->m_pHashNext, e = *link) {
        if (e->m_pPointer == p) {
            *link = e->m_pHashNext;
            if (--g_IndexedCount == 0) {
                FreeIndex();
            }
            return e;
        }
    }
    return nullptr;
}

void FreeLeaks()
{
    delete[] g_pLeaks;
    g_pLeaks = nullptr;
    g_LeakCount = 0;
    g_LeakIndex = 0;
}

LONG ReadLittleEndian(const unsigned char* bytes)
{
    const ULONG value = static_cast<ULONG>(bytes[0]) | (static_cast<ULONG>(bytes[1]) << 8) |
                        (static_cast<ULONG>(bytes[2]) << 16) | (static_cast<ULONG>(bytes[3]) << 24);
    return static_cast<LONG>(value);
}

// The most of a report that replay reads: 4 Mi sequence numbers. A larger file
// cannot come from a real run; its tail is ignored.
constexpr std::size_t kMaxReportBytes = 16u << 20;

// The report lies in the temp directory, where something else may have been put
// under its name: it is opened without following a symbolic link (the open fails
// on one) and used only when it is a regular file, never a FIFO or a device that
// could block or never end. `oneName` also refuses a file with a second name, whose
// contents would change under that other name too.
void RequireRegularFile(const TFile& file, bool oneName)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(file.Handle()) == FILE_TYPE_DISK &&
        ::GetFileInformationByHandle(file.Handle(), &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) &&
        (!oneName || info.nNumberOfLinks == 1)) {
        return;
    }
    ThrowNewError(CoreErrors(), 0,
                  TString(TEXT("\"")) + file.Name() +
                      (oneName ? TEXT("\" is not a regular file with a single name.")
                               : TEXT("\" is not a regular file.")),
                  TString::NullString, TString::NullString, nullptr);
}

// Reads every whole 4-byte value of the report (up to kMaxReportBytes); a short
// tail is ignored. A report that cannot be read gives no values: replay then never
// stops, and the reason is logged (an error here must not escape: it would end the
// program at load).
void LoadLeaks(const TString& path)
{
    g_LeaksLoaded = true;
    std::string bytes;
    try {
        TFile file;
        file.Open(path, GENERIC_READ, 0, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        RequireRegularFile(file, false);
        unsigned char buffer[65536];
        while (bytes.size() < kMaxReportBytes) {
            const DWORD n = file.Read(buffer, static_cast<DWORD>(std::min(
                                                  sizeof buffer, kMaxReportBytes - bytes.size())));
            if (n == 0) {
                break;
            }
            bytes.append(reinterpret_cast<const char*>(buffer), n);
        }
        if (bytes.size() == kMaxReportBytes && file.Length() > kMaxReportBytes) {
            g_ptheLogfile->Write(
                1,
                TString::Formatted(TEXT("TMemoryCheck: only the first %u bytes of the report are ")
                                       TEXT("read, the rest is ignored"),
                                   static_cast<unsigned>(kMaxReportBytes))
                    .c_str());
        }
        file.Close();
    } catch (TException&) {
        DecrementPendingCount();
        g_ptheLogfile->Write(
            1,
            (TString(TEXT("TMemoryCheck: the report cannot be read: ")) + GetErrorText()).c_str());
        ClearError();
        bytes.clear();
    }
    g_LeakCount = bytes.size() / 4;
    if (g_LeakCount > 0) {
        g_pLeaks = new LONG[g_LeakCount];
        for (std::size_t i = 0; i < g_LeakCount; ++i) {
            g_pLeaks[i] = ReadLittleEndian(reinterpret_cast<const unsigned char*>(&bytes[i * 4]));
        }
    }
}

const WCHAR kCaption[] = TEXT("MemoryChecker");

} // namespace

TMemoryCheck::TMemoryCheck()
{
    s_ReportPath = TFile::GetTmpPath() + s_ReportName;
    if (!TFile::Exist(s_ReportPath)) {
        return;
    }
    const TString text =
        TString(TEXT("MemoryLeak-Datei ")) + s_ReportPath +
        TEXT(" gefunden. Damit ist das Speicher-Prüf-System aktiviert. Es können jetzt ")
            TEXT("Speicher-Löscher in der Datei protokolliert werden, oder die protokollierten ")
                TEXT("angezeigt werden. Speicherlöcher jetzt protokollieren?");
    const int answer = TErrorProcessing::ErrorProcessing().MessageBox(
        text, kCaption, MB_YESNO | MB_ICONQUESTION, 0);
    if (answer != IDYES) {
        std::lock_guard<std::mutex> guard(g_Lock);
        GetNextPtr();
    }
    s_Installed = 1;
}

TMemoryCheck::~TMemoryCheck() noexcept(false)
{
    // The checker lives as long as the library: an error raised on from here would
    // end the program at unload, so a failed report is logged and dropped.
    try {
        Destructor();
    } catch (TException&) {
        DecrementPendingCount();
        g_ptheLogfile->Write(
            1, (TString(TEXT("TMemoryCheck: the report cannot be written: ")) + GetErrorText())
                   .c_str());
        ClearError();
    } catch (...) {
        ZanthUnhandledException();
    }
}

void TMemoryCheck::New(void* p, LONG size)
{
    if (s_Installed) {
        NewMemory(p, size);
    }
}

void TMemoryCheck::Delete(void* p)
{
    if (s_Installed) {
        DeleteMemory(p);
    }
}

void TMemoryCheck::NewMemory(void* p, LONG size)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    auto* element = new TMemoryCheckElement(p, size, g_AllocationCounter);
    s_ElementList.AddTail(element);
    try {
        IndexInsert(s_ElementList, element);
    } catch (...) {
        // No room for a larger index: the block is not registered at all, so the
        // list and the index keep naming the same elements.
        s_ElementList.Remove(element);
        delete element;
        throw;
    }
    g_AllocationCounter = static_cast<LONG>(static_cast<ULONG>(g_AllocationCounter) + 1);
    if (element->m_Sequence == g_NextLeak) {
        g_ptheLogfile->Write(
            3, TString::Formatted(TEXT("TMemoryCheck: allocation %ld reached, which leaked in the ")
                                      TEXT("recorded run (block %08llX, %ld bytes)"),
                                  element->m_Sequence,
                                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)),
                                  size)
                   .c_str());
        GetNextPtr();
    }
}

void TMemoryCheck::DeleteMemory(void* p)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    TMemoryCheckElement* element = IndexTake(p);
    if (element == nullptr) {
        return;
    }
    s_ElementList.Remove(element);
    delete element;
}

// With g_Lock held. The recorded numbers are read once; stepping through them
// gives what a fresh scan of the file for the current number would give, because a
// replay only moves on when numbers rise.
void TMemoryCheck::GetNextPtr()
{
    if (!g_LeaksLoaded) {
        LoadLeaks(s_ReportPath);
        g_LeakIndex = 0;
        g_NextLeak = g_LeakCount > 0 ? g_pLeaks[0] : -1;
        return;
    }
    if (g_NextLeak < 0 || g_LeakIndex + 1 >= g_LeakCount) {
        g_NextLeak = -1;
        return;
    }
    ++g_LeakIndex;
    g_NextLeak = g_pLeaks[g_LeakIndex];
}

void TMemoryCheck::Destructor()
{
    if (!s_Installed) {
        return;
    }
    // Take the survivors out under the lock; show the box and write the file
    // without it, so that a box that takes its time blocks nobody.
    TList survivors;
    std::string report;
    {
        std::lock_guard<std::mutex> guard(g_Lock);
        survivors = s_ElementList;
        s_ElementList.RemoveAll();
        FreeIndex();
        FreeLeaks();
        g_NextLeak = -1;
    }
    // The survivors are deleted when `survivors` goes, whatever happens below.
    if (survivors.IsEmpty()) {
        TErrorProcessing::ErrorProcessing().MessageBox(
            TEXT("Es wurden keine Speicherlöcher gefunden."), kCaption, MB_OK | MB_ICONEXCLAMATION,
            0);
        return;
    }
    for (TListElement* e = survivors.GetHead(); e != nullptr; e = e->Next()) {
        const auto sequence = static_cast<ULONG>(static_cast<TMemoryCheckElement*>(e)->m_Sequence);
        const char bytes[4] = {
            static_cast<char>(sequence & 0xFF), static_cast<char>((sequence >> 8) & 0xFF),
            static_cast<char>((sequence >> 16) & 0xFF), static_cast<char>((sequence >> 24) & 0xFF)};
        report.append(bytes, 4);
    }
    TErrorProcessing::ErrorProcessing().MessageBox(
        TEXT("Es wurden Speicherlöcher gefunden. Diese werden jetzt in die Datei geschreiben."),
        kCaption, MB_OK | MB_ICONEXCLAMATION, 0);
    // Opened without emptying it first (OPEN_ALWAYS), so that a file refused here
    // keeps its contents; emptied once it has proved to be the report.
    TFile file;
    file.Open(s_ReportPath, GENERIC_WRITE, 0, OPEN_ALWAYS,
              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    RequireRegularFile(file, true);
    file.Truncate();
    std::size_t done = 0;
    while (done < report.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(report.size() - done, 1u << 30));
        file.Write(report.data() + done, chunk);
        done += chunk;
    }
    file.Close();
}

// Class-wide state that must be valid before the library-wide objects are built.
unsigned int TMemoryCheck::s_Installed = 0;
