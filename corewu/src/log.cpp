// The log: lines with time, thread and level, to a file and to sinks.
#include <corewu/log.h>

#include <algorithm>

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
            m_FileName = (n > 0 && n <= MAX_PATH) ? TString(temp) + u"zanthtools.log" : TString();
            m_FileChosen = true;
        }
        if (m_File == INVALID_HANDLE_VALUE && !m_FileName.IsEmpty()) {
            m_File = ::CreateFileW(m_FileName, GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (m_File == INVALID_HANDLE_VALUE) {
                m_FileName.Empty(); // do not try again on every line
            } else {
                ::SetFilePointer(m_File, 0, nullptr, FILE_END);
            }
        }
        if (m_File != INVALID_HANDLE_VALUE) {
            SYSTEMTIME now;
            ::GetLocalTime(&now);
            TString stamped;
            stamped.Format(u"%04u-%02u-%02u %02u:%02u:%02u.%03u [%u] %d %s\n", now.wYear,
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
