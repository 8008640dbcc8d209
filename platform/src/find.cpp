// Directory search: FindFirstFileW, FindNextFileW and FindClose with the Windows
// wildcard rules, and ZanthGetFileIdentity. The long-path helpers that let these
// reach paths beyond the kernel's PATH_MAX are in long_path.cpp.
//
// A search reads its directory completely when it is opened and closes the
// directory descriptor at once; the handle holds only the matching entries. So an
// open search costs no descriptor (a walk that keeps thousands of searches open on
// its way down cannot run out of them), and a directory that changes or vanishes
// while a search is open does not disturb it.
//
// Masks follow Windows: "*" matches any run of characters, "?" one character,
// comparison ignores case, and a "." followed by nothing but wildcards also
// matches the end of a name, so "*.*" matches every name, "name.*" also matches
// "name" and "*." matches the names without an extension. "." and ".." are
// reported first, as Windows reports them, when the mask matches them.
#include "internal.h"
#include "long_path.h"

#include <zanth/win32/zanthext.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwctype>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600LL;

FILETIME ToFileTime(const struct timespec& time)
{
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(time.tv_sec + kEpochDifference) * 10000000ULL +
        static_cast<std::uint64_t>(time.tv_nsec / 100);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

char32_t Fold(char32_t ch)
{
    if (ch < 0x80) {
        return (ch >= 'a' && ch <= 'z') ? ch - 'a' + 'A' : ch;
    }
    return static_cast<char32_t>(std::towupper(static_cast<wint_t>(ch)));
}

std::u32string Folded(const std::u16string& text)
{
    std::u32string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t ch = text[i];
        if (ch >= 0xD800 && ch < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            ch = 0x10000 + ((ch - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        result.push_back(Fold(ch));
    }
    return result;
}

bool HasWildcard(const std::u16string& mask)
{
    return mask.find_first_of(u"*?") != std::u16string::npos;
}

// A compiled mask. Matching runs over the folded name with a table of reachable
// pattern positions, so no mask makes it slower than length(mask) * length(name).
class Mask
{
public:
    explicit Mask(const std::u16string& mask) : m_Pattern(Folded(mask))
    {
        // m_WildTail[i]: the pattern from i on is only wildcards.
        m_WildTail.assign(m_Pattern.size() + 1, true);
        for (std::size_t i = m_Pattern.size(); i-- > 0;) {
            m_WildTail[i] = m_WildTail[i + 1] && (m_Pattern[i] == '*' || m_Pattern[i] == '?');
        }
        // "*" and "*.*" (the usual masks) match every name without looking at it.
        m_MatchAll = m_Pattern == U"*.*" ||
                     (!m_Pattern.empty() && m_Pattern.find_first_not_of(U'*') == m_Pattern.npos);
    }

    bool Matches(const std::u16string& name) const
    {
        if (m_MatchAll) {
            return true;
        }
        const std::u32string text = Folded(name);
        const std::size_t n = m_Pattern.size();
        const std::size_t lastDot = text.rfind(U'.');
        // reach[i]: pattern position i is reachable with the text consumed so far.
        std::vector<char> reach(n + 1, 0), next(n + 1, 0);
        reach[0] = 1;
        Close(reach, text, 0);
        for (std::size_t t = 0; t < text.size(); ++t) {
            std::fill(next.begin(), next.end(), 0);
            for (std::size_t i = 0; i < n; ++i) {
                if (!reach[i]) {
                    continue;
                }
                const char32_t p = m_Pattern[i];
                if (p == '*') {
                    // A "*" before a "." stops at the name's last dot, which the dot
                    // of the mask must take: "*." matches only names without one.
                    const bool beforeDot = i + 1 < n && m_Pattern[i + 1] == '.';
                    if (!beforeDot || t != lastDot) {
                        next[i] = 1;
                    }
                } else if (p == '?' || p == text[t]) {
                    next[i + 1] = 1;
                }
            }
            reach.swap(next);
            Close(reach, text, t + 1);
        }
        return reach[n] != 0;
    }

private:
    // Adds the positions reachable without consuming text: past a "*"; past a "?"
    // at a dot or at the end of the name (so "a?.txt" also matches "a.txt"); and at
    // the end of the name past a "." that only wildcards follow.
    void Close(std::vector<char>& reach, const std::u32string& text, std::size_t consumed) const
    {
        const bool atEnd = consumed == text.size();
        for (std::size_t i = 0; i < m_Pattern.size(); ++i) {
            if (!reach[i]) {
                continue;
            }
            const char32_t p = m_Pattern[i];
            if (p == '*' || (p == '?' && (atEnd || text[consumed] == '.')) ||
                (atEnd && p == '.' && m_WildTail[i + 1])) {
                reach[i + 1] = 1;
            }
        }
    }

    std::u32string m_Pattern;
    std::vector<bool> m_WildTail;
    bool m_MatchAll = false;
};

struct FoundEntry
{
    std::u16string name;
    DWORD attributes;
    FILETIME created;
    FILETIME accessed;
    FILETIME written;
    std::uint64_t size;
};

class FindObject : public KernelObject
{
public:
    FindObject() : KernelObject(ObjectType::Find) {}
    std::vector<FoundEntry> entries;
    std::size_t next = 0;
};

DWORD AttributesOf(const struct stat& info, const std::string& name, bool link)
{
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DEVICE;
    }
    if ((info.st_mode & 0222) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (name.size() > 1 && name[0] == '.' && name != "..") {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (link) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// Describes one entry of an open directory. A symbolic link reports what it points
// to (a link to a directory is searched like one); a dangling link reports itself.
bool Describe(int dirFd, const char* name, FoundEntry& entry)
{
    struct stat info;
    bool link = false;
    if (::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false; // gone since it was read
    }
    if (S_ISLNK(info.st_mode)) {
        link = true;
        struct stat target;
        if (::fstatat(dirFd, name, &target, 0) == 0) {
            info = target;
        }
    }
    entry.attributes = AttributesOf(info, name, link);
    entry.created = ToFileTime(info.st_ctim);
    entry.accessed = ToFileTime(info.st_atim);
    entry.written = ToFileTime(info.st_mtim);
    entry.size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
    return true;
}

void Fill(const FoundEntry& entry, LPWIN32_FIND_DATAW data)
{
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = entry.attributes;
    data->ftCreationTime = entry.created;
    data->ftLastAccessTime = entry.accessed;
    data->ftLastWriteTime = entry.written;
    data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(entry.size);
    // A Linux name has at most 255 bytes, so it always fits with its terminator.
    const std::size_t length = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
    std::memcpy(data->cFileName, entry.name.data(), length * sizeof(WCHAR));
}

DWORD ErrorOfDirectory(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ZanthErrorFromErrno(error);
    }
}

} // namespace

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData)
{
    if (!fileName || !findData) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string full(fileName);
    const std::size_t slash = full.rfind(u'/');
    // No separator: the current directory; a separator in front only: the root.
    const std::u16string directory = slash == std::u16string::npos ? std::u16string(1, u'.')
                                     : slash == 0                  ? std::u16string(1, u'/')
                                                                   : full.substr(0, slash);
    const std::u16string maskText = slash == std::u16string::npos ? full : full.substr(slash + 1);
    if (maskText.empty()) {
        ::SetLastError(full.empty() ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    std::string rest;
    const std::string dirPath = ToUtf8(directory.c_str());
    const int parentFd = OpenLongPathParent(dirPath, rest);
    if (parentFd == -1) {
        ::SetLastError(ErrorOfDirectory(errno));
        return INVALID_HANDLE_VALUE;
    }
    const int dirFd = ::openat(parentFd, rest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int openError = errno;
    if (parentFd != AT_FDCWD) {
        ::close(parentFd);
    }
    if (dirFd < 0) {
        ::SetLastError(ErrorOfDirectory(openError));
        return INVALID_HANDLE_VALUE;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        const int error = errno;
        ::close(dirFd);
        ::SetLastError(ErrorOfDirectory(error));
        return INVALID_HANDLE_VALUE;
    }

    auto search = std::make_shared<FindObject>();
    const Mask mask(maskText);
    const bool literal = !HasWildcard(maskText);
    std::vector<FoundEntry> dots;
    errno = 0;
    while (struct dirent* item = ::readdir(dir)) {
        FoundEntry entry;
        entry.name = FromUtf8(item->d_name);
        if (!mask.Matches(entry.name) || !Describe(dirFd, item->d_name, entry)) {
            continue;
        }
        const bool isDot = std::strcmp(item->d_name, ".") == 0;
        const bool isDotDot = std::strcmp(item->d_name, "..") == 0;
        if (isDot || isDotDot) {
            dots.insert(isDot ? dots.begin() : dots.end(), std::move(entry));
        } else {
            search->entries.push_back(std::move(entry));
        }
    }
    ::closedir(dir);
    // A name without wildcards names one entry; an exact spelling wins over one that
    // differs only in case.
    if (literal && search->entries.size() > 1) {
        for (FoundEntry& entry : search->entries) {
            if (entry.name == maskText) {
                std::swap(entry, search->entries.front());
            }
        }
        search->entries.resize(1);
    }
    search->entries.insert(search->entries.begin(), std::make_move_iterator(dots.begin()),
                           std::make_move_iterator(dots.end()));
    if (search->entries.empty()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Fill(search->entries[0], findData);
    search->next = 1;
    HANDLE handle = InsertHandle(search);
    if (!handle) {
        return INVALID_HANDLE_VALUE;
    }
    ::SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData)
{
    auto search = LookupAs<FindObject>(findFile, ObjectType::Find);
    if (!search) {
        return FALSE;
    }
    if (!findData) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        ::SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(search->entries[search->next++], findData);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE findFile)
{
    if (!LookupAs<FindObject>(findFile, ObjectType::Find)) {
        return FALSE;
    }
    return RemoveHandle(findFile) ? TRUE : FALSE;
}

BOOL ZanthGetFileIdentity(LPCWSTR path, ULONGLONG* volume, ULONGLONG* index)
{
    if (!path || !*path || !volume || !index) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat info;
    if (StatLongPath(ToUtf8(path), &info) != 0) {
        ::SetLastError(ErrorOfDirectory(errno));
        return FALSE;
    }
    *volume = static_cast<ULONGLONG>(info.st_dev);
    *index = static_cast<ULONGLONG>(info.st_ino);
    return TRUE;
}

} // extern "C"
