// The log: lines with time, thread and level, to a file and to sinks.
#include <corewu/log.h>

#include <zanth/win32/zanthext.h>

#include <algorithm>

namespace {

// Opens the log file for appending. The default file lies in the temp directory,
// which other users may share and where anybody may have planted something under
// its name first, so for it (`guarded`) a symbolic link is not followed, and only a
// regular file that the user owns and that has no other name is written; anything
// else (a FIFO, a device, a hard link to some other file) switches the file off.
// CreateFileW does not wait for a FIFO's other end, so no open blocks the log.
HANDLE OpenLogFile(const TString& name, bool guarded)
{
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (guarded ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE file =
        ::CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return file;
    }
    if (guarded) {
        BY_HANDLE_FILE_INFORMATION info;
        const bool acceptable = ::GetFileType(file) == FILE_TYPE_DISK &&
                                ::GetFileInformationByHandle(file, &info) &&
                                !(info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) &&
                                info.nNumberOfLinks == 1 && ZanthIsOwnFile(file);
        if (!acceptable) {
            ::CloseHandle(file);
            return INVALID_HANDLE_VALUE;
        }
    }
    ::SetFilePointer(file, 0, nullptr, FILE_END);
    return file;
}

} // namespace

TLogFile::TLogFile() = default;

TLogFile::~TLogFile()
{
    if (m_File != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_File);
    }
}

void TLogFile::Write(const WCHAR* text)
{
    Write(3, text);
}

void TLogFile::Write(int level, const WCHAR* text)
{
    const TString line(text);
    std::vector<TLogSink*> sinks;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        sinks = m_Sinks;
        if (!m_FileChosen) {
            WCHAR temp[MAX_PATH + 1];
            DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
            m_FileName =
                (n > 0 && n <= MAX_PATH) ? TString(temp) + TEXT("zanthtools.log") : TString();
            m_FileChosen = true;
            m_InSharedPlace = true;
        }
        if (m_File == INVALID_HANDLE_VALUE && !m_FileName.IsEmpty()) {
            m_File = OpenLogFile(m_FileName, m_InSharedPlace);
            if (m_File == INVALID_HANDLE_VALUE) {
                m_FileName.Empty(); // do not try again on every line
            }
        }
        if (m_File != INVALID_HANDLE_VALUE) {
            SYSTEMTIME now;
            ::GetLocalTime(&now);
            TString stamped;
            stamped.Format(TEXT("%04u-%02u-%02u %02u:%02u:%02u.%03u [%u] %d %s\n"), now.wYear,
                           now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                           now.wMilliseconds, static_cast<unsigned>(::GetCurrentThreadId()), level,
                           line.c_str());
            const std::string bytes = stamped.AsAnsi();
            DWORD written = 0;
            ::WriteFile(m_File, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
    }
    for (TLogSink* sink : sinks) {
        sink->Line(level, line);
    }
}

void TLogFile::SetFileName(const TString& name)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_File != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_File);
        m_File = INVALID_HANDLE_VALUE;
    }
    m_FileName = name;
    m_FileChosen = true;
    m_InSharedPlace = false;
}

TString TLogFile::FileName() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_FileName;
}

void TLogFile::AddSink(TLogSink* sink)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Sinks.push_back(sink);
}

void TLogFile::RemoveSink(TLogSink* sink)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Sinks.erase(std::remove(m_Sinks.begin(), m_Sinks.end(), sink), m_Sinks.end());
}
