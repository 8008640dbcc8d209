// File mapping: CreateFileMappingW, MapViewOfFile and UnmapViewOfFile.
//
// A mapping object holds the file object it was made from (so the file stays
// open, and keeps its share-mode entry, until the last handle and the last view
// of the mapping are gone, as on Windows) and the mapping's size and protection.
// A view is a shared mmap of the file; a table of the views of the process keeps
// each view's mapping object alive and lets UnmapViewOfFile accept exactly the
// addresses that MapViewOfFile returned. A mapping of INVALID_HANDLE_VALUE is
// backed by an anonymous memory file instead of a file on disk.
//
// Only regular files are mapped. A writable mapping that makes its file longer
// reserves the file's blocks (posix_fallocate) before it succeeds, so that a full
// filesystem fails the mapping with ERROR_DISK_FULL instead of killing the process
// with SIGBUS at the first write into the view.
#include "file_object.h"
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

constexpr std::uint64_t kGranularity = 0x10000;

class MappingObject : public KernelObject
{
public:
    MappingObject(std::shared_ptr<FileObject> file, int memoryFd, DWORD protect, std::uint64_t size)
        : KernelObject(ObjectType::Mapping), m_File(std::move(file)), m_MemoryFd(memoryFd),
          m_Protect(protect), m_Size(size)
    {}
    ~MappingObject() override
    {
        if (m_MemoryFd >= 0) {
            ::close(m_MemoryFd);
        }
    }

    int Descriptor() const { return m_File ? m_File->Descriptor() : m_MemoryFd; }
    DWORD Protect() const { return m_Protect; }
    std::uint64_t Size() const { return m_Size; }

private:
    std::shared_ptr<FileObject> m_File;
    int m_MemoryFd;
    DWORD m_Protect;
    std::uint64_t m_Size;
};

struct View
{
    std::size_t length;
    std::shared_ptr<MappingObject> mapping;
};

class ViewTable
{
public:
    void Add(std::uintptr_t base, View view)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Views[base] = std::move(view);
    }

    // Takes the view that starts at `base` out of the table.
    bool Take(std::uintptr_t base, View& view)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        auto it = m_Views.find(base);
        if (it == m_Views.end()) {
            return false;
        }
        view = std::move(it->second);
        m_Views.erase(it);
        return true;
    }

private:
    std::mutex m_Lock;
    std::map<std::uintptr_t, View> m_Views;
};

ViewTable& Views()
{
    // Never destroyed: views may be unmapped while static objects are torn down.
    static ViewTable* table = new ViewTable;
    return *table;
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect,
                                 DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCWSTR name)
{
    if (name) {
        // Named (shareable) sections are not offered by this layer.
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (protect != PAGE_READONLY && protect != PAGE_READWRITE && protect != PAGE_WRITECOPY) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::uint64_t size = (static_cast<std::uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;

    if (file == INVALID_HANDLE_VALUE) {
        // Backed by memory: the size must be given.
        if (size == 0) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        int fd = ::memfd_create("zanth-section", MFD_CLOEXEC);
        if (fd < 0) {
            SetLastErrorFromErrno();
            return nullptr;
        }
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
            ::close(fd);
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        HANDLE handle = InsertHandle(std::make_shared<MappingObject>(nullptr, fd, protect, size));
        if (handle) {
            ::SetLastError(ERROR_SUCCESS);
        }
        return handle;
    }

    auto object = LookupAs<FileObject>(file, ObjectType::File);
    if (!object) {
        return nullptr;
    }
    // The file's access must allow what the protection promises.
    const bool needWrite = protect == PAGE_READWRITE;
    if (!object->CanRead() || (needWrite && !object->CanWrite())) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat info;
    if (::fstat(object->Descriptor(), &info) != 0) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        // Only a regular file has data to map: a device or a FIFO has no size, and
        // its pages would not be the file's bytes.
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const std::uint64_t fileSize = static_cast<std::uint64_t>(info.st_size);
    if (size == 0) {
        // Size 0 maps the file as it is; an empty file cannot be mapped.
        if (fileSize == 0) {
            ::SetLastError(ERROR_FILE_INVALID);
            return nullptr;
        }
        size = fileSize;
    } else if (size > fileSize) {
        // A larger mapping extends the file, which needs write access.
        if (!needWrite) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        // The blocks are reserved now. A file that is only made longer (ftruncate)
        // gets a hole, and a write through the view into a hole that the filesystem
        // cannot fill kills the process with SIGBUS; Windows allocates the space
        // here and fails with ERROR_DISK_FULL, and so do we. Holes already in the
        // file are filled as well, so that every page of the view has its block.
        const int fd = object->Descriptor();
        const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
        if (error != 0) {
            // Give back what was allocated past the old end. Should that fail too,
            // the file keeps the length it reached; the error below is the cause.
            const int restored = ::ftruncate(fd, static_cast<off_t>(fileSize));
            (void)restored;
            ::SetLastError(error == EFBIG || error == ENOSPC ? ERROR_DISK_FULL
                                                             : ZanthErrorFromErrno(error));
            return nullptr;
        }
    }
    HANDLE handle = InsertHandle(std::make_shared<MappingObject>(object, -1, protect, size));
    if (handle) {
        ::SetLastError(ERROR_SUCCESS);
    }
    return handle;
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                            SIZE_T bytesToMap)
{
    auto object = LookupAs<MappingObject>(mapping, ObjectType::Mapping);
    if (!object) {
        return nullptr;
    }
    const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset % kGranularity != 0) {
        ::SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    int prot;
    int flags = MAP_SHARED;
    if (desiredAccess == FILE_MAP_ALL_ACCESS || (desiredAccess & FILE_MAP_WRITE)) {
        if (object->Protect() != PAGE_READWRITE) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        prot = PROT_READ | PROT_WRITE;
    } else if (desiredAccess & FILE_MAP_COPY) {
        // Copy-on-write: writes stay in this process.
        prot = PROT_READ | PROT_WRITE;
        flags = MAP_PRIVATE;
    } else if (desiredAccess & FILE_MAP_READ) {
        prot = PROT_READ;
    } else {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (offset > object->Size() || (bytesToMap == 0 && offset == object->Size())) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::uint64_t available = object->Size() - offset;
    const std::uint64_t length = bytesToMap == 0 ? available : bytesToMap;
    if (length > available) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    void* view = ::mmap(nullptr, static_cast<std::size_t>(length), prot, flags,
                        object->Descriptor(), static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        ::SetLastError(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ZanthErrorFromErrno(errno));
        return nullptr;
    }
    Views().Add(reinterpret_cast<std::uintptr_t>(view),
                View{static_cast<std::size_t>(length), std::move(object)});
    return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress)
{
    View view;
    if (!Views().Take(reinterpret_cast<std::uintptr_t>(baseAddress), view)) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (::munmap(const_cast<void*>(baseAddress), view.length) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
