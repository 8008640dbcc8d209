// TMemFile: a whole file mapped into memory.
#include <corewu/errors.h>
#include <zanth/memmap.h>

#include <utility>

void TMemFile::TMappedFile::Swap(TMappedFile& other) noexcept
{
    std::swap(m_Handle, other.m_Handle);
    std::swap(m_Name, other.m_Name);
}

TMemFile::TMemFile() = default;

TMemFile::~TMemFile() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

TMemFile::TMemFile(TMemFile&& other) noexcept
    : m_hMapping(std::exchange(other.m_hMapping, nullptr)),
      m_pView(std::exchange(other.m_pView, nullptr)), m_Size(std::exchange(other.m_Size, 0)),
      m_ReadOnly(std::exchange(other.m_ReadOnly, 1))
{
    m_File.Swap(other.m_File);
}

TMemFile& TMemFile::operator=(TMemFile&& other)
{
    if (this != &other) {
        Close(m_Size);
        m_File.Swap(other.m_File);
        m_hMapping = std::exchange(other.m_hMapping, nullptr);
        m_pView = std::exchange(other.m_pView, nullptr);
        m_Size = std::exchange(other.m_Size, 0);
        m_ReadOnly = std::exchange(other.m_ReadOnly, 1);
    }
    return *this;
}

void TMemFile::Destructor()
{
    // Close(0) would cut a file written through the mapping to nothing; keep it at
    // the size it was mapped with instead. Only Close(size) sets another length.
    Close(m_Size);
}

void TMemFile::RaiseMapError(const TString& name)
{
    // The system error first: closing the file must not overwrite it.
    const DWORD error = ::GetLastError();
    m_File.Close();
    ::SetLastError(error);
    PushSystemError();
    ThrowNewError(MemmapError, 0, name, TString::NullString, TString::NullString, nullptr);
}

void TMemFile::RefuseFile(const TString& name, WORD reason)
{
    // No system call failed: the file is of a kind that cannot be mapped. The reason
    // stands beneath message 0 in place of a system error.
    m_File.Close();
    PushError(MemmapError, reason, name, TString::NullString, TString::NullString);
    ThrowNewError(MemmapError, 0, name, TString::NullString, TString::NullString, nullptr);
}

void TMemFile::Open(TString name, DWORD size)
{
    // As in Destructor: a file written through the old mapping keeps its size.
    Close(m_Size);
    m_ReadOnly = size == 0 ? 1 : 0;
    DWORD protect;
    DWORD access;
    if (m_ReadOnly) {
        m_File.Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    } else {
        m_File.Open(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    }
    // Only a regular file has bytes to map. (The open did not wait for a FIFO's other
    // end, and nothing is read from a device.)
    if (::GetFileType(m_File.Handle()) != FILE_TYPE_DISK) {
        RefuseFile(name, kNotRegular);
    }
    if (m_ReadOnly) {
        const ULONGLONG length = m_File.Length();
        if (length == 0) {
            RefuseFile(name, kEmpty);
        }
        if (length > 0xFFFFFFFFull) {
            // The size of the object is 32 bits: a larger file cannot be mapped whole.
            RefuseFile(name, kTooLarge);
        }
        m_Size = static_cast<DWORD>(length);
        protect = PAGE_READONLY;
        access = FILE_MAP_READ;
    } else {
        m_Size = size;
        protect = PAGE_READWRITE;
        access = FILE_MAP_WRITE;
    }
    m_hMapping = ::CreateFileMappingW(m_File.Handle(), nullptr, protect, 0, m_Size, nullptr);
    if (m_hMapping == nullptr) {
        RaiseMapError(name);
    }
    m_pView = ::MapViewOfFile(m_hMapping, access, 0, 0, 0);
    if (m_pView == nullptr) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(m_hMapping);
        m_hMapping = nullptr;
        ::SetLastError(error);
        RaiseMapError(name);
    }
}

void TMemFile::Close(DWORD size)
{
    if (m_pView != nullptr) {
        ::UnmapViewOfFile(m_pView);
        m_pView = nullptr;
    }
    if (m_hMapping != nullptr) {
        ::CloseHandle(m_hMapping);
        m_hMapping = nullptr;
    }
    if (m_File.IsOpen()) {
        if (!m_ReadOnly) {
            m_File.Seek(static_cast<LONGLONG>(size), 0);
            m_File.Truncate();
        }
        m_File.Close();
    }
}
