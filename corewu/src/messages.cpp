// The catalog registry and the message store. The built-in English texts come from
// the tables in texts/*.inc, one file per family; an application may replace any
// text with SetMessageText.
#include <corewu/messages.h>

#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

struct BuiltinText
{
    const WCHAR* catalog;
    WORD message;
    const WCHAR* text;
};

constexpr BuiltinText kBuiltinTexts[] = {
#include "texts/buffers.inc"
#include "texts/corewu.inc"
#include "texts/datetime.inc"
#include "texts/desktop.inc"
#include "texts/frame.inc"
#include "texts/mail.inc"
#include "texts/memory.inc"
#include "texts/registry.inc"
#include "texts/serial.inc"
#include "texts/threads.inc"
#include "texts/units.inc"
};

struct Key
{
    std::basic_string<WCHAR> catalog;
    WORD message;
    bool operator==(const Key& other) const
    {
        return message == other.message && catalog == other.catalog;
    }
};

struct KeyHash
{
    std::size_t operator()(const Key& key) const
    {
        return std::hash<std::basic_string<WCHAR>>()(key.catalog) * 31 + key.message;
    }
};

class Registry
{
public:
    Registry()
    {
        for (const BuiltinText& entry : kBuiltinTexts) {
            m_Texts[Key{entry.catalog, entry.message}] = entry.text;
        }
    }

    WORD Register(const WCHAR* name, const WCHAR* module, const WCHAR* file, ULONG line)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        const TString catalogName(name);
        const TString moduleName(module);
        for (std::size_t i = 0; i < m_Catalogs.size(); ++i) {
            if (m_Catalogs[i].name == catalogName && m_Catalogs[i].module == moduleName) {
                return static_cast<WORD>(i + 1);
            }
        }
        if (m_Catalogs.size() >= 0xFFFE) {
            return 0xFFFF; // the number space is exhausted; 0xFFFF names no catalog
        }
        m_Catalogs.push_back(TCatalogInfo{catalogName, moduleName, TString(file), line});
        return static_cast<WORD>(m_Catalogs.size());
    }

    WORD Count()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return static_cast<WORD>(m_Catalogs.size());
    }

    bool Info(WORD catalog, TCatalogInfo& info)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (catalog == 0 || catalog > m_Catalogs.size()) {
            return false;
        }
        info = m_Catalogs[catalog - 1];
        return true;
    }

    WORD Find(const WCHAR* name)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        for (std::size_t i = 0; i < m_Catalogs.size(); ++i) {
            if (m_Catalogs[i].name == name) {
                return static_cast<WORD>(i + 1);
            }
        }
        return 0;
    }

    // The raw text, or false. Catalog 0 is the free-text catalog.
    bool Text(WORD catalog, WORD message, std::basic_string<WCHAR>& text,
              std::basic_string<WCHAR>& catalogName)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (catalog == 0) {
            catalogName = TEXT("");
            text = TEXT("%1");
            return message == 0;
        }
        if (catalog > m_Catalogs.size()) {
            catalogName = TEXT("#") + TString(static_cast<LONG>(catalog), 10).str();
            return false;
        }
        catalogName = m_Catalogs[catalog - 1].name.str();
        auto it = m_Texts.find(Key{catalogName, message});
        if (it == m_Texts.end()) {
            return false;
        }
        text = it->second;
        return true;
    }

    void SetText(const WCHAR* catalog, WORD message, const WCHAR* text)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Texts[Key{catalog ? catalog : TEXT(""), message}] = text ? text : TEXT("");
    }

private:
    std::mutex m_Lock;
    std::vector<TCatalogInfo> m_Catalogs;
    std::unordered_map<Key, std::basic_string<WCHAR>, KeyHash> m_Texts;
};

// Never destroyed: catalogs of other libraries may be looked up during their own
// unloading, after this library's static objects would be gone.
Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

TMessageBase::TMessageBase(const WCHAR* name, const WCHAR* module, const WCHAR* file, ULONG line)
    : m_Number(TheRegistry().Register(name, module, file, line))
{}

WORD GetCatalogCount()
{
    return TheRegistry().Count();
}

bool GetCatalogInfo(WORD catalog, TCatalogInfo& info)
{
    return TheRegistry().Info(catalog, info);
}

WORD FindCatalog(const WCHAR* name)
{
    return name ? TheRegistry().Find(name) : 0;
}

bool HasMessageText(WORD catalog, WORD message)
{
    std::basic_string<WCHAR> text, name;
    return TheRegistry().Text(catalog, message, text, name);
}

TString GetMessageW(WORD catalog, WORD message, const TString& a1, const TString& a2,
                    const TString& a3)
{
    std::basic_string<WCHAR> text, name;
    if (!TheRegistry().Text(catalog, message, text, name)) {
        TString fallback;
        fallback.Format(TEXT("%s message %u"), name.c_str(), static_cast<unsigned>(message));
        for (const TString* arg : {&a1, &a2, &a3}) {
            if (!arg->IsEmpty()) {
                fallback += TEXT(": ");
                fallback += *arg;
            }
        }
        return fallback;
    }
    const TString* args[3] = {&a1, &a2, &a3};
    std::basic_string<WCHAR> out;
    out.reserve(text.size() + 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == TEXT('%') && i + 1 < text.size()) {
            const WCHAR next = text[i + 1];
            if (next >= TEXT('1') && next <= TEXT('3')) {
                out += args[next - TEXT('1')]->str();
                ++i;
                continue;
            }
            if (next == TEXT('%')) {
                out.push_back(TEXT('%'));
                ++i;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return TString(std::move(out));
}

void SetMessageText(const WCHAR* catalogName, WORD message, const WCHAR* text)
{
    TheRegistry().SetText(catalogName, message, text);
}
