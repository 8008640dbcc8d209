// The settings family's part of ztools: `registry` reads, writes, lists, exports
// and imports keys (in the text format of Windows .reg files), `formats` edits the
// user's paper format list.
#include "commands.h"
#include "regfile.h"

#include <zanth/win32/zanthext.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace ztools {
namespace {

[[noreturn]] void Fail(const std::string& command, const std::string& message)
{
    std::cerr << "ztools " << command << ": " << message << "\n";
    throw CLI::RuntimeError(1);
}

std::basic_string<WCHAR> Wide(const std::string& text)
{
    return TString::FromAnsi(text.c_str()).str();
}

std::string Narrow(const std::basic_string<WCHAR>& text)
{
    return TString(text).AsAnsi();
}

std::string ErrorText(LSTATUS status)
{
    WCHAR buffer[512];
    if (::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                             FORMAT_MESSAGE_MAX_WIDTH_MASK,
                         nullptr, static_cast<DWORD>(status), 0, buffer, 512, nullptr)) {
        return Narrow(buffer) + " (error " + std::to_string(status) + ")";
    }
    return "error " + std::to_string(status);
}

// A key path with its root: HKEY_CURRENT_USER\... or HKCU\..., HKEY_LOCAL_MACHINE\...
// or HKLM\...; a path without a root is taken below HKEY_CURRENT_USER.
struct KeyPath
{
    HKEY root;
    std::basic_string<WCHAR> rootName;
    std::basic_string<WCHAR> path; // below the root
    std::basic_string<WCHAR> Full() const
    {
        return path.empty() ? rootName : rootName + TEXT("\\") + path;
    }
};

bool SplitKey(const std::basic_string<WCHAR>& text, KeyPath& key)
{
    std::basic_string<WCHAR> first = text.substr(0, text.find(TEXT('\\')));
    std::basic_string<WCHAR> rest =
        first.size() < text.size() ? text.substr(first.size() + 1) : TEXT("");
    TString upper(first);
    upper.MakeUpper();
    if (upper == TEXT("HKEY_CURRENT_USER") || upper == TEXT("HKCU")) {
        key = {HKEY_CURRENT_USER, TEXT("HKEY_CURRENT_USER"), rest};
    } else if (upper == TEXT("HKEY_LOCAL_MACHINE") || upper == TEXT("HKLM")) {
        key = {HKEY_LOCAL_MACHINE, TEXT("HKEY_LOCAL_MACHINE"), rest};
    } else if (upper.Left(5) == TEXT("HKEY_")) {
        return false;
    } else {
        key = {HKEY_CURRENT_USER, TEXT("HKEY_CURRENT_USER"), text};
    }
    while (!key.path.empty() && key.path.back() == TEXT('\\')) {
        key.path.pop_back();
    }
    return true;
}

// Whether a path starts with the name of a root (as every key of a .reg file does).
bool HasRoot(const std::basic_string<WCHAR>& text)
{
    TString first(text.substr(0, text.find(TEXT('\\'))));
    first.MakeUpper();
    return first == TEXT("HKEY_CURRENT_USER") || first == TEXT("HKCU") ||
           first == TEXT("HKEY_LOCAL_MACHINE") || first == TEXT("HKLM");
}

KeyPath ParseKey(const std::string& command, const std::string& text)
{
    KeyPath key;
    if (!SplitKey(Wide(text), key)) {
        Fail(command, "unknown root in \"" + text +
                          "\" (use HKEY_CURRENT_USER, HKCU, HKEY_LOCAL_MACHINE or HKLM)");
    }
    return key;
}

// An open key, closed when it goes.
class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (m_Key) {
            ::RegCloseKey(m_Key);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &m_Key; }
    operator HKEY() const { return m_Key; }

private:
    HKEY m_Key = nullptr;
};

LSTATUS OpenKey(const KeyPath& path, REGSAM access, Key& key)
{
    return ::RegOpenKeyExW(path.root, path.path.c_str(), 0, access, key.Out());
}

struct RawValue
{
    std::basic_string<WCHAR> name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

// All values of a key, in enumeration order. Grows its buffers when another
// process makes a value longer meanwhile.
std::vector<RawValue> Values(const std::string& command, HKEY key,
                             const std::basic_string<WCHAR>& where)
{
    std::vector<RawValue> values;
    DWORD nameMax = 0, dataMax = 0;
    LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, &nameMax, &dataMax, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        Fail(command, Narrow(where) + ": " + ErrorText(status));
    }
    std::vector<WCHAR> name(nameMax + 1);
    std::vector<BYTE> data(dataMax + 1);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        status = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                                 &size);
        if (status == ERROR_NO_MORE_ITEMS) {
            return values;
        }
        if (status == ERROR_MORE_DATA) {
            name.resize(std::max<std::size_t>(name.size() * 2, nameLength + 1));
            data.resize(std::max<std::size_t>(data.size() * 2, size));
            continue;
        }
        if (status != ERROR_SUCCESS) {
            Fail(command, Narrow(where) + ": " + ErrorText(status));
        }
        values.push_back({std::basic_string<WCHAR>(name.data(), nameLength), type,
                          std::vector<BYTE>(data.begin(), data.begin() + size)});
        ++index;
    }
}

std::vector<std::basic_string<WCHAR>> SubKeys(const std::string& command, HKEY key,
                                              const std::basic_string<WCHAR>& where)
{
    std::vector<std::basic_string<WCHAR>> keys;
    std::vector<WCHAR> name(256);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(name.size());
        LSTATUS status =
            ::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return keys;
        }
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS) {
            Fail(command, Narrow(where) + ": " + ErrorText(status));
        }
        keys.emplace_back(name.data(), length);
        ++index;
    }
}

// The data of `ztools registry set` in the given type.
std::vector<BYTE> DataOf(const std::string& type, const std::string& text, DWORD& regType)
{
    auto fromText = [](const std::basic_string<WCHAR>& wide) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
        return std::vector<BYTE>(bytes, bytes + (wide.size() + 1) * 2);
    };
    auto number = [&](unsigned long long limit) {
        errno = 0;
        char* end = nullptr;
        const bool negative = !text.empty() && text[0] == '-';
        unsigned long long value = 0;
        if (negative) {
            long long signedValue = std::strtoll(text.c_str(), &end, 0);
            if (limit == 0xFFFFFFFFull && signedValue < -2147483648ll) {
                errno = ERANGE;
            }
            value = static_cast<unsigned long long>(signedValue) & limit;
        } else {
            value = std::strtoull(text.c_str(), &end, 0);
            if (value > limit) {
                errno = ERANGE;
            }
        }
        if (text.empty() || *end != 0 || errno != 0) {
            Fail("registry set", "\"" + text + "\" is not a " + type + " number");
        }
        return value;
    };
    std::vector<BYTE> data;
    if (type == "dword") {
        regType = REG_DWORD;
        const auto value = static_cast<DWORD>(number(0xFFFFFFFFull));
        for (int i = 0; i < 4; ++i) {
            data.push_back(static_cast<BYTE>(value >> (8 * i)));
        }
    } else if (type == "qword") {
        regType = REG_QWORD;
        const auto value = number(~0ull);
        for (int i = 0; i < 8; ++i) {
            data.push_back(static_cast<BYTE>(value >> (8 * i)));
        }
    } else if (type == "sz" || type == "expand_sz") {
        regType = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
        data = fromText(Wide(text));
    } else if (type == "multi_sz") {
        // The strings are separated by "\0" in the argument.
        regType = REG_MULTI_SZ;
        std::basic_string<WCHAR> all = Wide(text);
        std::basic_string<WCHAR> joined;
        for (std::size_t start = 0;;) {
            std::size_t end = all.find(TEXT("\\0"), start);
            joined += all.substr(start, end - start);
            joined.push_back(TEXT('\0'));
            if (end == std::basic_string<WCHAR>::npos) {
                break;
            }
            start = end + 2;
        }
        data = fromText(joined);
    } else if (type == "binary") {
        regType = REG_BINARY;
        std::string digits;
        for (char c : text) {
            if (c != ',' && c != ' ' && c != ':') {
                digits.push_back(c);
            }
        }
        if (digits.size() % 2 != 0) {
            Fail("registry set", "binary data needs two hex digits per byte");
        }
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            char* end = nullptr;
            const std::string pair = digits.substr(i, 2);
            const long byte = std::strtol(pair.c_str(), &end, 16);
            if (*end != 0) {
                Fail("registry set", "\"" + pair + "\" is not a hex byte");
            }
            data.push_back(static_cast<BYTE>(byte));
        }
    } else {
        Fail("registry set",
             "unknown type \"" + type + "\" (dword, qword, sz, expand_sz, multi_sz or binary)");
    }
    return data;
}

void PrintValues(const std::vector<RawValue>& values)
{
    for (const RawValue& value : values) {
        std::cout << Narrow(regfile::FormatValue(value.name, value.type, value.data.data(),
                                                 value.data.size()))
                  << "\n";
    }
}

void Get(const std::string& keyText, const std::string& name, bool hasName)
{
    const KeyPath path = ParseKey("registry get", keyText);
    Key key;
    LSTATUS status = OpenKey(path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        Fail("registry get", Narrow(path.Full()) + ": " + ErrorText(status));
    }
    std::vector<RawValue> values = Values("registry get", key, path.Full());
    if (!hasName) {
        PrintValues(values);
        return;
    }
    const std::basic_string<WCHAR> wanted = Wide(name);
    for (const RawValue& value : values) {
        if (TString(value.name).CompareNoCase(wanted.c_str()) == 0) {
            PrintValues({value});
            return;
        }
    }
    Fail("registry get", "the key " + Narrow(path.Full()) + " has no value \"" + name + "\"");
}

void Set(const std::string& keyText, const std::string& name, const std::string& text,
         const std::string& type)
{
    const KeyPath path = ParseKey("registry set", keyText);
    DWORD regType = REG_SZ;
    std::vector<BYTE> data = DataOf(type, text, regType);
    Key key;
    LSTATUS status = ::RegCreateKeyExW(path.root, path.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, key.Out(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExW(key, Wide(name).c_str(), 0, regType, data.data(),
                                  static_cast<DWORD>(data.size()));
    }
    if (status != ERROR_SUCCESS) {
        Fail("registry set", Narrow(path.Full()) + ": " + ErrorText(status));
    }
}

// Deletes a key with everything below it (RegDeleteKeyW takes only keys without
// subkeys).
LSTATUS DeleteTree(HKEY parent, const std::basic_string<WCHAR>& name)
{
    {
        Key key;
        LSTATUS status = ::RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.Out());
        if (status != ERROR_SUCCESS) {
            return status;
        }
        for (const std::basic_string<WCHAR>& child : SubKeys("registry delete", key, name)) {
            status = DeleteTree(key, child);
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
    }
    return ::RegDeleteKeyW(parent, name.c_str());
}

void Delete(const std::string& keyText, const std::string& name, bool hasName)
{
    const KeyPath path = ParseKey("registry delete", keyText);
    LSTATUS status;
    if (hasName) {
        Key key;
        status = OpenKey(path, KEY_ALL_ACCESS, key);
        if (status == ERROR_SUCCESS) {
            status = ::RegDeleteValueW(key, Wide(name).c_str());
        }
    } else {
        if (path.path.empty()) {
            Fail("registry delete", "a root cannot be deleted");
        }
        status = DeleteTree(path.root, path.path);
    }
    if (status != ERROR_SUCCESS) {
        Fail("registry delete", Narrow(path.Full()) + ": " + ErrorText(status));
    }
}

void List(const std::string& keyText)
{
    const KeyPath path = ParseKey("registry list", keyText);
    Key key;
    LSTATUS status = OpenKey(path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        Fail("registry list", Narrow(path.Full()) + ": " + ErrorText(status));
    }
    for (const std::basic_string<WCHAR>& child : SubKeys("registry list", key, path.Full())) {
        std::cout << Narrow(child) << "\\\n";
    }
    PrintValues(Values("registry list", key, path.Full()));
}

void ExportKey(HKEY key, const std::basic_string<WCHAR>& full, std::basic_string<WCHAR>& out)
{
    out += TEXT("\n") + regfile::FormatSection(full) + TEXT("\n");
    for (const RawValue& value : Values("registry export", key, full)) {
        out += regfile::FormatValue(value.name, value.type, value.data.data(), value.data.size()) +
               TEXT("\n");
    }
    for (const std::basic_string<WCHAR>& child : SubKeys("registry export", key, full)) {
        Key sub;
        LSTATUS status = ::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, sub.Out());
        if (status == ERROR_FILE_NOT_FOUND) {
            continue; // deleted meanwhile
        }
        if (status != ERROR_SUCCESS) {
            Fail("registry export", Narrow(full + TEXT("\\") + child) + ": " + ErrorText(status));
        }
        ExportKey(sub, full + TEXT("\\") + child, out);
    }
}

void Export(const std::string& keyText, const std::string& file, bool utf8)
{
    const KeyPath path = ParseKey("registry export", keyText);
    Key key;
    LSTATUS status = OpenKey(path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        Fail("registry export", Narrow(path.Full()) + ": " + ErrorText(status));
    }
    std::basic_string<WCHAR> text = regfile::kHeader;
    text += TEXT("\n");
    ExportKey(key, path.Full(), text);
    text += TEXT("\n");
    const std::string bytes = regfile::Encode(text, utf8);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        Fail("registry export", "cannot write \"" + file + "\"");
    }
}

void Import(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        Fail("registry import", "cannot read \"" + file + "\"");
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    std::vector<regfile::Section> sections;
    try {
        sections = regfile::Parse(regfile::Decode(contents.str()));
    } catch (const regfile::ParseError& error) {
        Fail("registry import", file + ", " + error.what() + "; nothing was imported");
    }
    // Every key path is checked before anything is changed.
    std::vector<KeyPath> paths;
    for (const regfile::Section& section : sections) {
        KeyPath path;
        if (!HasRoot(section.path) || !SplitKey(section.path, path) || path.path.empty()) {
            Fail("registry import", file + ", line " + std::to_string(section.line) + ": \"" +
                                        Narrow(section.path) +
                                        "\" is not a key below HKEY_CURRENT_USER or "
                                        "HKEY_LOCAL_MACHINE; nothing was imported");
        }
        paths.push_back(path);
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const regfile::Section& section = sections[i];
        const KeyPath& path = paths[i];
        if (section.remove) {
            LSTATUS status = DeleteTree(path.root, path.path);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
                Fail("registry import", Narrow(path.Full()) + ": " + ErrorText(status));
            }
            continue;
        }
        Key key;
        LSTATUS status = ::RegCreateKeyExW(path.root, path.path.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, key.Out(), nullptr);
        if (status != ERROR_SUCCESS) {
            Fail("registry import", Narrow(path.Full()) + ": " + ErrorText(status));
        }
        for (const regfile::Value& value : section.values) {
            if (value.remove) {
                status = ::RegDeleteValueW(key, value.name.c_str());
                if (status == ERROR_FILE_NOT_FOUND) {
                    status = ERROR_SUCCESS;
                }
            } else {
                status = ::RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                          static_cast<DWORD>(value.data.size()));
            }
            if (status != ERROR_SUCCESS) {
                Fail("registry import",
                     file + ", line " + std::to_string(value.line) + ": " + ErrorText(status));
            }
        }
    }
    std::cout << "imported " << sections.size() << " keys from " << file << "\n";
}

// --- formats --------------------------------------------------------------------------

struct UnitName
{
    const char* name;
    ULONG unit;
};
const UnitName kUnits[] = {
    {"px", ZCUnit::UnitPixel}, {"mm", ZCUnit::UnitMillimetre}, {"in", ZCUnit::UnitInch}};

ULONG UnitOf(const std::string& name)
{
    for (const UnitName& unit : kUnits) {
        if (name == unit.name) {
            return unit.unit;
        }
    }
    Fail("formats", "unknown unit \"" + name + "\" (mm, in or px)");
}

ULONG ToZanth(double value, ULONG unit, ULONG dpi)
{
    switch (unit) {
    case ZCUnit::UnitPixel:
        return ZCUnit::ConvertPixelToZanth(static_cast<ULONG>(value), dpi);
    case ZCUnit::UnitMillimetre:
        return ZCUnit::ConvertMmToZanth(value);
    default:
        return ZCUnit::ConvertInchToZanth(value);
    }
}

void ListFormats(ULONG dpi)
{
    ZCUserFormat formats(0);
    formats.ReadFormatList();
    const ULONG unit = formats.GetUnits();
    std::cout << "unit: " << Utf8(formats.GetDefaultName()) << "\n";
    int index = 0;
    for (POSITION position = formats.FormatList().GetHeadPosition(); position; ++index) {
        const ZCFormat::TFormatInfo* record = formats.FormatList().GetNext(position);
        if (!record) {
            continue;
        }
        std::cout << index << "  " << Narrow(record->Name) << "  "
                  << Utf8(ZCUnit::FormatString(record->SizeX, unit, dpi)) << " x "
                  << Utf8(ZCUnit::FormatString(record->SizeY, unit, dpi))
                  << (record->Land ? "  landscape" : "") << "\n";
    }
}

void AddFormat(const std::string& name, const std::string& size, ULONG dpi)
{
    const TString wide = TString::FromAnsi(name.c_str());
    if (wide.IsEmpty() || wide.GetLength() > 31) {
        Fail("formats add", "a format name has 1 to 31 characters");
    }
    // WxH with an optional unit: 210x297mm, 8.5x11in, 2480x3508px.
    char* end = nullptr;
    const double width = std::strtod(size.c_str(), &end);
    if (end == size.c_str() || (*end != 'x' && *end != 'X')) {
        Fail("formats add", "the size must look like 210x297mm, 8.5x11in or 2480x3508px");
    }
    const char* second = end + 1;
    const double height = std::strtod(second, &end);
    if (end == second || !(width > 0) || !(height > 0) || width > 1e6 || height > 1e6) {
        Fail("formats add", "the size must look like 210x297mm, 8.5x11in or 2480x3508px");
    }
    ZCUserFormat formats(0);
    formats.ReadFormatList();
    const ULONG unit = *end ? UnitOf(end) : formats.GetUnits();
    if (unit > ZCUnit::UnitInch) {
        Fail("formats add", "give the size's unit (mm, in or px)");
    }
    for (POSITION position = formats.FormatList().GetHeadPosition(); position;) {
        const ZCFormat::TFormatInfo* record = formats.FormatList().GetNext(position);
        if (record && wide == record->Name) {
            Fail("formats add", "there is a format \"" + name + "\" already");
        }
    }
    auto* record = new ZCFormat::TFormatInfo();
    const ULONG x = ToZanth(width, unit, dpi);
    const ULONG y = ToZanth(height, unit, dpi);
    record->SizeX = x < y ? x : y;
    record->SizeY = x < y ? y : x;
    record->Land = x > y ? 1 : 0;
    std::basic_string<WCHAR> text = wide.str();
    text.copy(record->Name, 31);
    formats.FormatList().AddTail(record);
    formats.WriteFormatList();
    formats.InvokeChange();
}

void RemoveFormat(const std::string& name)
{
    ZCUserFormat formats(0);
    formats.ReadFormatList();
    const TString wide = TString::FromAnsi(name.c_str());
    for (POSITION position = formats.FormatList().GetHeadPosition(); position;) {
        POSITION here = position;
        ZCFormat::TFormatInfo* record = formats.FormatList().GetNext(position);
        if (record && wide == record->Name) {
            delete record;
            formats.FormatList().RemoveAt(here);
            formats.WriteFormatList();
            formats.InvokeChange();
            return;
        }
    }
    Fail("formats remove", "there is no format \"" + name + "\"");
}

void SetUnits(const std::string& name)
{
    ZCUserFormat formats(0);
    formats.ReadFormatList();
    formats.SetUnits(UnitOf(name));
    formats.WriteFormatList();
    formats.InvokeChange();
}

} // namespace

void AddRegistryCommands(CLI::App& app)
{
    CLI::App* registry = app.add_subcommand(
        "registry", "Read and write the settings store (the registry on SQLite)");
    registry->require_subcommand(1);
    registry->footer("KEY: HKEY_CURRENT_USER\\... (or HKCU\\...), HKEY_LOCAL_MACHINE\\... (or "
                     "HKLM\\...); without a root, below HKEY_CURRENT_USER.");

    struct Arguments
    {
        std::string key, name, value, type = "sz", file;
        bool utf8 = false;
    };
    auto args = std::make_shared<Arguments>();

    CLI::App* get = registry->add_subcommand("get", "Print a value, or all values of a key");
    get->add_option("KEY", args->key)->required();
    CLI::Option* getName = get->add_option("NAME", args->name, "the value (\"\" the default one)");
    get->callback([args, getName] { Get(args->key, args->name, getName->count() > 0); });

    CLI::App* set = registry->add_subcommand("set", "Write a value (creating the key)");
    set->add_option("KEY", args->key)->required();
    set->add_option("NAME", args->name)->required();
    set->add_option("VALUE", args->value)->required();
    set->add_option("--type", args->type,
                    "dword, qword, sz (the default), expand_sz, multi_sz (strings separated "
                    "by \\0) or binary (hex bytes)");
    set->callback([args] { Set(args->key, args->name, args->value, args->type); });

    CLI::App* del =
        registry->add_subcommand("delete", "Delete a value, or a key with all below it");
    del->add_option("KEY", args->key)->required();
    CLI::Option* delName = del->add_option("NAME", args->name);
    del->callback([args, delName] { Delete(args->key, args->name, delName->count() > 0); });

    CLI::App* list = registry->add_subcommand("list", "List the subkeys and values of a key");
    list->add_option("KEY", args->key)->required();
    list->callback([args] { List(args->key); });

    CLI::App* exp =
        registry->add_subcommand("export", "Write a key and all below it to a .reg file");
    exp->add_option("KEY", args->key)->required();
    exp->add_option("FILE", args->file)->required();
    exp->add_flag("--utf8", args->utf8,
                  "UTF-8 with LF line ends instead of regedit's UTF-16 with CRLF");
    exp->callback([args] { Export(args->key, args->file, args->utf8); });

    CLI::App* imp = registry->add_subcommand("import", "Apply a .reg file (UTF-16 or UTF-8)");
    imp->add_option("FILE", args->file)->required();
    imp->callback([args] { Import(args->file); });

    CLI::App* path = registry->add_subcommand("path", "Print where the databases live");
    path->callback([] {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            WCHAR buffer[4096];
            DWORD size = 4096;
            if (ZanthRegGetDatabasePath(root, buffer, &size) == ERROR_SUCCESS) {
                std::cout << (root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER   "
                                                        : "HKEY_LOCAL_MACHINE  ")
                          << Narrow(buffer) << "\n";
            }
        }
    });

    CLI::App* check =
        registry->add_subcommand("check", "Check a root's database (SQLite integrity check)");
    auto root = std::make_shared<std::string>("HKCU");
    check->add_option("ROOT", *root, "HKCU (the default) or HKLM");
    check->callback([root] {
        KeyPath path = ParseKey("registry check", *root);
        LSTATUS status = ZanthRegCheckDatabase(path.root);
        if (status != ERROR_SUCCESS) {
            Fail("registry check", Narrow(path.rootName) + ": " + ErrorText(status));
        }
        std::cout << Narrow(path.rootName) << ": ok\n";
    });

    CLI::App* formats =
        app.add_subcommand("formats", "Edit the user's paper format list (in the registry)");
    formats->require_subcommand(1);
    auto dpi = std::make_shared<ULONG>(300);
    formats->add_option("--dpi", *dpi, "the resolution for sizes in pixels (default 300)")
        ->check(CLI::Range(1, 100000));

    CLI::App* flist = formats->add_subcommand("list", "List the formats in the user's unit");
    flist->callback([dpi] { ListFormats(*dpi); });

    CLI::App* add = formats->add_subcommand("add", "Add a format: NAME WxH[mm|in|px]");
    add->add_option("NAME", args->name)->required();
    add->add_option("SIZE", args->value, "e.g. 210x297mm, 8.5x11in, 2480x3508px")->required();
    add->callback([args, dpi] { AddFormat(args->name, args->value, *dpi); });

    CLI::App* remove = formats->add_subcommand("remove", "Remove a format by name");
    remove->add_option("NAME", args->name)->required();
    remove->callback([args] { RemoveFormat(args->name); });

    CLI::App* units = formats->add_subcommand("units", "Set the user's unit: mm, in or px");
    units->add_option("UNIT", args->value)->required();
    units->callback([args] { SetUnits(args->value); });
}

void TourRegistry(std::ostream& out)
{
    Heading(out, "settings (registry, user formats, window positions)");
    TRegistry registry(TEXT("ZANTH"), TEXT("Tour"), 0);
    registry.Write(TEXT("Greeting"), TString(TEXT("hello")), 0, 0);
    TString greeting;
    registry.Read(TEXT("Greeting"), greeting, TString(), 0, 0);
    out << "wrote and read " << Utf8(registry.GetKeyName()) << "\\Greeting = \"" << Utf8(greeting)
        << "\"\n";
    registry.DeleteValue(TEXT("Greeting"), 1);
    ZCUserFormat formats(0);
    formats.ReadFormatList();
    out << "user formats: " << formats.FormatList().GetCount() << ", unit "
        << Utf8(formats.GetDefaultName()) << "\n";
    TPosition position;
    position.Position(TPosition::CenterCenter);
    TPoint point = position.LogposToOffset(TRect(0, 0, 1920, 1080), TRect(0, 0, 800, 600));
    out << "an 800x600 window centred on 1920x1080 goes to (" << point.X() << ", " << point.Y()
        << ")\n";
}

} // namespace ztools
