// Fuzzes the reader of .reg files that `ztools registry import` uses: arbitrary
// bytes go through Decode and Parse; every value that comes out is written back
// with FormatValue and parsed again (from regedit's UTF-16), and must come back
// the same.
#include "regfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace ztools::regfile;
    std::vector<Section> sections;
    try {
        sections = Parse(Decode(std::string(reinterpret_cast<const char*>(data), size)));
    } catch (const ParseError&) {
        return 0;
    }
    for (const Section& section : sections) {
        for (const Value& value : section.values) {
            if (value.remove) {
                continue;
            }
            std::basic_string<WCHAR> text =
                std::basic_string<WCHAR>(kHeader) + TEXT("\n") + FormatSection(TEXT("HKCU\\x")) +
                TEXT("\n") +
                FormatValue(value.name, value.type, value.data.data(), value.data.size()) +
                TEXT("\n");
            std::vector<Section> again = Parse(Decode(Encode(text, false)));
            if (again.size() != 1 || again[0].values.size() != 1 ||
                again[0].values[0].name != value.name || again[0].values[0].type != value.type ||
                again[0].values[0].data != value.data) {
                std::abort();
            }
        }
    }
    return 0;
}
