// Message catalogs and the message store: every failure the libraries report is
// named by a (catalog number, message number) pair whose text lives here.
#ifndef COREWU_MESSAGES_H
#define COREWU_MESSAGES_H

#include <corewu/tstring.h>

// Base of every message catalog. A catalog is a small value whose only state is
// the 16-bit number that the base library assigns when it is constructed; the same
// name and module always receive the same number in one process (a library that is
// unloaded and loaded again keeps its numbers). Catalog number 0 is reserved for
// free-text errors (message 0, the whole text as the first argument).
// Thread rules: construction may happen on any thread; the number is read-only.
class COREWU_API TMessageBase
{
public:
    TMessageBase(const WCHAR* name, const WCHAR* module, const WCHAR* file, ULONG line);
    TMessageBase(const TMessageBase& other) = default;
    TMessageBase& operator=(const TMessageBase& other)
    {
        m_Number = other.m_Number;
        return *this;
    }

    operator unsigned short() const { return m_Number; }
    WORD Number() const { return m_Number; }

private:
    WORD m_Number;
};

// What the base library records about a catalog.
struct TCatalogInfo
{
    TString name;
    TString module;
    TString file;
    ULONG line = 0;
};

// Number of catalogs registered so far (catalog numbers run from 1 to this count),
// and their records in registration order. An unknown number yields false.
COREWU_API WORD GetCatalogCount();
COREWU_API bool GetCatalogInfo(WORD catalog, TCatalogInfo& info);
// The number of a registered catalog by name (0 when there is none).
COREWU_API WORD FindCatalog(const WCHAR* name);

// The text of a message with its arguments inserted: %1, %2 and %3 stand for a1, a2
// and a3 (%% is a percent sign). A message that the store does not hold yields a
// text naming the catalog and number followed by the arguments, so that nothing
// is lost.
COREWU_API TString GetMessageW(WORD catalog, WORD message, const TString& a1, const TString& a2,
                               const TString& a3);

// Whether the store holds a text for this message.
COREWU_API bool HasMessageText(WORD catalog, WORD message);

// Lets an application install its own texts (another language, say). The catalog
// is named by its catalog name; the text replaces the built-in one.
COREWU_API void SetMessageText(const WCHAR* catalogName, WORD message, const WCHAR* text);

#endif // COREWU_MESSAGES_H
