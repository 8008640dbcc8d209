// Open files behind HANDLEs, shared by the file calls (file.cpp) and file
// mappings (mapping.cpp).
#ifndef ZANTH_PLATFORM_FILE_OBJECT_H
#define ZANTH_PLATFORM_FILE_OBJECT_H

#include "internal.h"

namespace zanth::platform {

// An open file (or device). The descriptor is closed when the last handle and the
// last user (a mapping, a running I/O) let go of the object.
class FileObject : public KernelObject
{
public:
    FileObject(int fd, DWORD access, DWORD share, DWORD flags, std::uint64_t device,
               std::uint64_t inode);
    ~FileObject() override;

    int Descriptor() const { return m_Fd; }
    DWORD Access() const { return m_Access; }
    DWORD Share() const { return m_Share; }
    DWORD Flags() const { return m_Flags; }
    bool CanRead() const { return (m_Access & (GENERIC_READ | GENERIC_ALL)) != 0; }
    bool CanWrite() const { return (m_Access & (GENERIC_WRITE | GENERIC_ALL)) != 0; }

private:
    int m_Fd;
    DWORD m_Access;
    DWORD m_Share;
    DWORD m_Flags;
    std::uint64_t m_Device;
    std::uint64_t m_Inode;
};

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_FILE_OBJECT_H
