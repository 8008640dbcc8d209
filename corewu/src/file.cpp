// TFile, TAutoFile and TFileString over the Win32 file calls.
#include <corewu/file.h>

#include <corewu/errors.h>

#include <climits>

namespace {

const TMessageBase& FileCatalog()
{
    static const TMessageBase catalog(TEXT("TFile::FileErrors"), TEXT("COREWU"),
                                      TEXT("corewu/src/file.cpp"), __LINE__);
    return catalog;
}

} // namespace

const TMessageBase& TFile::FileErrors()
{
    return FileCatalog();
}

TFile::TFile() : m_Handle(INVALID_HANDLE_VALUE) {}

TFile::~TFile() noexcept(false)
{
    RunDestructorWork([this] { Close(); });
}

void TFile::Raise(WORD message) const
{
    PushSystemError();
    ThrowNewError(FileCatalog(), message, m_Name, TString::NullString, TString::NullString,
                  nullptr);
}

void TFile::Open(const TString& name, DWORD access, DWORD share, DWORD creation, DWORD attributes)
{
    Close();
    m_Name = name;
    m_Handle = ::CreateFileW(name, access, share, nullptr, creation, attributes, nullptr);
    if (m_Handle == INVALID_HANDLE_VALUE) {
        Raise(0);
    }
}

void TFile::Close()
{
    if (m_Handle == INVALID_HANDLE_VALUE) {
        return;
    }
    HANDLE handle = m_Handle;
    m_Handle = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) {
        Raise(4);
    }
}

DWORD TFile::Read(void* buffer, DWORD count)
{
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        Raise(5);
    }
    DWORD read = 0;
    if (!::ReadFile(m_Handle, buffer, count, &read, nullptr)) {
        Raise(1);
    }
    return read;
}

void TFile::Write(const void* buffer, DWORD count)
{
    DWORD written = 0;
    Write(buffer, count, written);
}

void TFile::Write(const void* buffer, DWORD count, DWORD& written)
{
    written = 0;
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        Raise(5);
    }
    // A WriteFile that fails part of the way still reports the bytes it wrote.
    if (!::WriteFile(m_Handle, buffer, count, &written, nullptr)) {
        Raise(2);
    }
    if (written != count) {
        ::SetLastError(ERROR_DISK_FULL);
        PushSystemError();
        ThrowNewError(FileCatalog(), 9, m_Name, TString(static_cast<DWORD>(written), 10),
                      TString(static_cast<DWORD>(count), 10), nullptr);
    }
}

void TFile::Flush()
{
    if (!::FlushFileBuffers(m_Handle)) {
        Raise(8);
    }
}

ULONGLONG TFile::Length() const
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_Handle, &size)) {
        Raise(6);
    }
    return static_cast<ULONGLONG>(size.QuadPart);
}

ULONGLONG TFile::Position() const
{
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (!::SetFilePointerEx(m_Handle, zero, &position, FILE_CURRENT)) {
        Raise(3);
    }
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG TFile::Seek(LONGLONG offset, DWORD mode)
{
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(m_Handle, distance, &position, mode)) {
        Raise(3);
    }
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG TFile::End()
{
    return Seek(0, FILE_END);
}

void TFile::Truncate()
{
    if (!::SetEndOfFile(m_Handle)) {
        Raise(7);
    }
}

BOOL TFile::Exist(const TString& name)
{
    const DWORD attributes = ::GetFileAttributesW(name);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TString TFile::GetTmpPath()
{
    WCHAR buffer[MAX_PATH + 1];
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n > 0 && n <= MAX_PATH) {
        return TString(buffer, static_cast<LONG>(n));
    }
    TString path;
    DWORD needed = n;
    n = ::GetTempPathW(needed, path.GetBuffer(static_cast<LONG>(needed)));
    path.ReleaseBuffer(static_cast<LONG>(n < needed ? n : 0));
    return path;
}

TString TFile::GetExeName()
{
    TString path;
    DWORD size = MAX_PATH;
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, path.GetBuffer(static_cast<LONG>(size)), size);
        if (n < size) {
            path.ReleaseBuffer(static_cast<LONG>(n));
            return path;
        }
        size *= 2;
        if (size > 32768) {
            path.ReleaseBuffer(-1);
            return path;
        }
    }
}

TAutoFile::TAutoFile(const TString& name)
{
    Open(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
}

void TAutoFile::PutText(const TString& text)
{
    const std::string bytes = text.AsAnsi();
    if (!bytes.empty()) {
        Write(bytes.data(), static_cast<DWORD>(bytes.size()));
    }
}

void TAutoFile::PutLine(const TString& text)
{
    PutText(text + TEXT("\n"));
}

TString TFileString::GetNameExt(const TString& path)
{
    return path.Right(path.ReverseFind(TEXT('/')) + 1);
}

TString TFileString::GetPath(const TString& path)
{
    return path.Left(path.ReverseFind(TEXT('/')) + 1);
}

TString TFileString::GetExt(const TString& path)
{
    const TString name = GetNameExt(path);
    const LONG dot = name.ReverseFind(TEXT('.'));
    return dot <= 0 ? TString() : name.Right(dot);
}

TString TFileString::Join(const TString& directory, const TString& name)
{
    if (directory.IsEmpty()) {
        return name;
    }
    TString result(directory);
    if (result[result.GetLength() - 1] != TEXT('/')) {
        result += TEXT('/');
    }
    return result + name;
}
