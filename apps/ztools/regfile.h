// The text format of Windows .reg files (regedit's "Windows Registry Editor
// Version 5.00", and the older "REGEDIT4"): parsing into sections and values, and
// writing values the way regedit does, so that settings move between machines and
// to Windows.
#ifndef ZTOOLS_REGFILE_H
#define ZTOOLS_REGFILE_H

#include <zanth/win32/windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ztools::regfile {

// One value line: "name"=data, @=data (the default value) or "name"=- (remove).
struct Value
{
    std::basic_string<WCHAR> name; // empty for the default value
    bool remove = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    int line = 0;
};

// One section: [path] or [-path] (remove the key and everything below it).
struct Section
{
    std::basic_string<WCHAR> path; // with its root, e.g. HKEY_CURRENT_USER\Software\ZANTH
    bool remove = false;
    std::vector<Value> values;
    int line = 0;
};

// A file that is not in the format, with the line (from 1) where it goes wrong.
class ParseError : public std::runtime_error
{
public:
    ParseError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), m_Line(line)
    {}
    int Line() const { return m_Line; }

private:
    int m_Line;
};

// The text of a file's bytes: UTF-16LE with its byte-order mark (what regedit
// writes), or UTF-8 with or without one. Ill-formed UTF-8 is a ParseError.
std::basic_string<WCHAR> Decode(const std::string& bytes);

// Parses the whole text; nothing is applied, so a bad file changes nothing.
std::vector<Section> Parse(const std::basic_string<WCHAR>& text);

// The header line of the files this program writes.
extern const WCHAR* const kHeader;

// "[path]" and one value line as regedit writes them: strings quoted, REG_DWORD as
// dword:, everything else as hex(type): bytes, long lines continued with "\".
std::basic_string<WCHAR> FormatSection(const std::basic_string<WCHAR>& path);
std::basic_string<WCHAR> FormatValue(const std::basic_string<WCHAR>& name, DWORD type,
                                     const BYTE* data, std::size_t size);

// The bytes of a file: UTF-16LE with a byte-order mark and CRLF line ends, as
// regedit reads and writes; or UTF-8 with LF when `utf8` is set.
std::string Encode(const std::basic_string<WCHAR>& text, bool utf8);

} // namespace ztools::regfile

#endif // ZTOOLS_REGFILE_H
