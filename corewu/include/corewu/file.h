// Files of the base library: TFile over the Win32 file calls, TAutoFile for text
// lines, and TFileString for path pieces.
#ifndef COREWU_FILE_H
#define COREWU_FILE_H

#include <corewu/messages.h>
#include <corewu/tstring.h>

// An open file. Errors are raised through the error stack with the system error
// beneath a message of the catalog "TFile::FileErrors" naming the file.
// The destructor closes the file. Thread rules: one thread at a time per object.
class COREWU_API TFile
{
public:
    TFile();
    virtual ~TFile() noexcept(false);
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    // Opens with Win32 values (GENERIC_*, FILE_SHARE_*, CREATE_*/OPEN_*,
    // FILE_ATTRIBUTE_*); closes a file that is open first.
    void Open(const TString& name, DWORD access, DWORD share, DWORD creation,
              DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    void Close();
    BOOL IsOpen() const { return m_Handle != INVALID_HANDLE_VALUE; }

    // Reads up to `count` bytes; returns the number read (0 at the end).
    DWORD Read(void* buffer, DWORD count);
    // Writes all `count` bytes or raises an error.
    void Write(const void* buffer, DWORD count);
    // The same, and stores in `written` how many bytes reached the file, also when
    // the write fails part of the way (a full disk): a caller that retries then
    // writes only the rest.
    void Write(const void* buffer, DWORD count, DWORD& written);
    void Flush();

    ULONGLONG Length() const;
    ULONGLONG Position() const;
    // Moves the position: mode 0 from the start, 1 from the current position, 2 from
    // the end. Returns the new position.
    ULONGLONG Seek(LONGLONG offset, DWORD mode);
    // Moves to the end of the file; returns the new position.
    ULONGLONG End();
    // Ends the file at the current position (cutting what follows).
    void Truncate();

    HANDLE Handle() const { return m_Handle; }
    const TString& Name() const { return m_Name; }

    static BOOL Exist(const TString& name);
    // The temp directory, with a trailing separator.
    static TString GetTmpPath();
    // The full path of the running program.
    static TString GetExeName();

    // The catalog of the file errors.
    static const TMessageBase& FileErrors();

protected:
    [[noreturn]] void Raise(WORD message) const;

    HANDLE m_Handle;
    TString m_Name;
};

// A file written as UTF-8 text lines. Thread rules as TFile.
class COREWU_API TAutoFile : public TFile
{
public:
    // Opens (creating or emptying) a text file for writing.
    explicit TAutoFile(const TString& name);
    TAutoFile() = default;
    // Writes the text followed by a line feed.
    void PutLine(const TString& text);
    // Writes the text as it is.
    void PutText(const TString& text);
};

// Pieces of a path. The separator is '/'; a backslash is an ordinary character of
// a file name on this platform.
class COREWU_API TFileString
{
public:
    // The name with its extension: the part after the last separator.
    static TString GetNameExt(const TString& path);
    // The directory part including the last separator (empty if none).
    static TString GetPath(const TString& path);
    // The extension including the dot (empty if none).
    static TString GetExt(const TString& path);
    // Joins a directory and a name with one separator.
    static TString Join(const TString& directory, const TString& name);
};

#endif // COREWU_FILE_H
