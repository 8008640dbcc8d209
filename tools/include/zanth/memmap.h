// TMemFile: a whole file mapped into memory for reading or for writing.
#ifndef ZANTH_MEMMAP_H
#define ZANTH_MEMMAP_H

#include <corewu/file.h>
#include <corewu/messages.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

// A whole file mapped into memory. Open(name, 0) maps an existing file read-only;
// Open(name, size) creates (or empties) the file and maps size bytes for writing.
// Close(size) unmaps and, for a writable mapping, cuts the file to size bytes.
// Destroying the object, or opening it again, without Close keeps a written file at
// its mapped size.
//
// The object owns the file, the mapping and the view. It can be moved (the source is
// left closed) but not copied: two objects never share the handles. Errors: catalog
// MemmapError, message 0 (the file cannot be mapped; the file name as %1). Beneath
// it stands the system error of the mapping, or the reason why the file cannot be
// mapped at all: message 1 (it is empty), 2 (it is not a regular file: a device, a
// FIFO or a socket; such a file is refused without waiting for it) or 3 (it is
// larger than 4 GiB). A writable mapping reserves the file's blocks, so a full disk
// fails Open (ERROR_DISK_FULL beneath) rather than a later write into the view.
// Errors of opening and cutting the file come from TFile.
// Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API TMemFile
{
public:
    // The error catalog of the class ("TMemFile::MemmapError").
    class ZANTH_TOOLS_API ZMCMemmapError : public TMessageBase
    {
    public:
        ZMCMemmapError();
        ZMCMemmapError& operator=(const ZMCMemmapError& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

    TMemFile();
    // Destructor() under the library's destructor rule.
    virtual ~TMemFile() noexcept(false);
    TMemFile(const TMemFile&) = delete;
    TMemFile& operator=(const TMemFile&) = delete;
    TMemFile(TMemFile&& other) noexcept;
    // Closes what this object holds (keeping a written file at its mapped size),
    // then takes over the other's file, mapping and view.
    TMemFile& operator=(TMemFile&& other);

    // Size 0: maps an existing file read-only; otherwise creates the file and maps
    // size bytes for writing. A file already open is closed first as by Destructor.
    void Open(TString name, DWORD size);
    // Unmaps and closes; a writable file is cut (or extended) to `size` bytes.
    void Close(DWORD size);
    // The view, null while closed.
    void* operator()() { return m_pView; }
    // The mapped size in bytes.
    DWORD Size() { return m_Size; }
    // Closes, keeping a written file at its mapped size.
    virtual void Destructor();

protected:
    static ZMCMemmapError MemmapError;

private:
    // The file of the mapping: a TFile that can hand its handle to another object.
    class TMappedFile : public TFile
    {
    public:
        void Swap(TMappedFile& other) noexcept;
    };

    // Messages of MemmapError that say why a file cannot be mapped; they stand
    // beneath message 0.
    static constexpr WORD kEmpty = 1;
    static constexpr WORD kNotRegular = 2;
    static constexpr WORD kTooLarge = 3;

    [[noreturn]] void RaiseMapError(const TString& name);
    // Closes the file and raises message 0 with message `reason` beneath it.
    [[noreturn]] void RefuseFile(const TString& name, WORD reason);

    TMappedFile m_File;
    HANDLE m_hMapping = nullptr;
    void* m_pView = nullptr;
    DWORD m_Size = 0;
    unsigned int m_ReadOnly = 1;
};

#endif // ZANTH_MEMMAP_H
