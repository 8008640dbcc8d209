// The log of the libraries: g_ptheLogfile takes a level (1 for errors, 3 for
// information) and a line of text.
#ifndef COREWU_LOG_H
#define COREWU_LOG_H

#include <corewu/tstring.h>

#include <mutex>
#include <vector>

// Receives every line written to the log (tests capture lines with one).
class COREWU_API TLogSink
{
public:
    virtual ~TLogSink() = default;
    virtual void Line(int level, const TString& text) = 0;
};

// The log. Lines go to a file (by default "zanthtools.log" in the temp directory,
// opened on the first line) and to every installed sink. The default file is only
// written when it is a regular file of the user's own with no other name; a link,
// FIFO or device planted under its name switches the file off (the sinks still get
// every line). A file named with SetFileName is opened as named.
// Thread rules: all operations may be called from any thread; each line is
// written whole.
class COREWU_API TLogFile
{
public:
    TLogFile();
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Writes an information line (level 3).
    void Write(const WCHAR* text);
    // Writes a line at a level (1 or 3).
    void Write(int level, const WCHAR* text);

    // Where the lines go; an empty name switches the file off.
    void SetFileName(const TString& name);
    TString FileName() const;

    void AddSink(TLogSink* sink);
    void RemoveSink(TLogSink* sink);

private:
    mutable std::mutex m_Lock;
    TString m_FileName;
    bool m_FileChosen = false;
    // The file is the default one in the temp directory, which others may share.
    bool m_InSharedPlace = false;
    HANDLE m_File = INVALID_HANDLE_VALUE;
    std::vector<TLogSink*> m_Sinks;
};

extern COREWU_API TLogFile* g_ptheLogfile;

#endif // COREWU_LOG_H
