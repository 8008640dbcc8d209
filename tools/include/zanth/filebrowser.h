// The file browser: VFileBrowser (the interface), IFileBrowser (the library's
// implementation behind it) and PFileBrowser (an owning holder).
#ifndef ZANTH_FILEBROWSER_H
#define ZANTH_FILEBROWSER_H

#include <corewu/smartptr.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

#include <list>
#include <vector>

// Lists the full paths of the entries below a directory that match a wildcard mask
// ("*", "?", "*.*" for every name; case is ignored), into a list or a vector.
// Results are appended: the directory as given with trailing separators removed,
// one separator, then the entry's name. Objects come from CreateClass and go back
// through DestroyClass (there is no virtual destructor; deleting through this
// interface is not possible). A browser keeps no state between calls: separate
// calls may run on separate threads with separate output containers.
class ZANTH_TOOLS_API VFileBrowser
{
public:
    // A new browser, or null when memory is short.
    static VFileBrowser* CreateClass();
    // Deletes the browser behind *pp (when it is one of the library's) and sets *pp
    // to null; a null pp or *pp does nothing.
    static void DestroyClass(VFileBrowser** pp);

    VFileBrowser() = default;
    VFileBrowser(const VFileBrowser&) = default;
    VFileBrowser& operator=(const VFileBrowser&) = default;

    // Entries of `directory` matching `mask`. With recurse 0 the matching files and
    // subdirectories are listed; with recurse 1 only files, at every depth, each
    // subdirectory's files at the point where it was met. A directory in which
    // nothing matches is searched below all the same. Clear empties out first.
    virtual void GetFileList(const WCHAR* directory, const WCHAR* mask, std::list<TString>* out,
                             UINT recurse, UINT clear) = 0;
    // Matching files only: first those of `directory` itself, then (recurse 1) those
    // found below it, in the order GetFileList gives them.
    virtual void GetFileVector(const WCHAR* directory, const WCHAR* mask, std::vector<TString>* out,
                               UINT recurse, UINT clear) = 0;

protected:
    ~VFileBrowser() = default;
};

// The library's browser. It walks the tree without recursion on the machine stack
// (depth is limited by memory only), never enters a directory that is already on
// the way down (a symbolic link to a parent cannot make a listing endless), and
// skips directories that vanish or cannot be read while it runs.
// Thread rules as VFileBrowser.
class ZANTH_TOOLS_API IFileBrowser : public VFileBrowser
{
public:
    IFileBrowser() = default;
    void GetFileList(const WCHAR* directory, const WCHAR* mask, std::list<TString>* out,
                     UINT recurse, UINT clear) override;
    void GetFileVector(const WCHAR* directory, const WCHAR* mask, std::vector<TString>* out,
                       UINT recurse, UINT clear) override;
    virtual ~IFileBrowser();
};

// The owning pointer gives a browser back to its factory: VFileBrowser has no
// virtual destructor, so a plain delete through the interface would be wrong.
template <> inline TSmartPtr<VFileBrowser>::~TSmartPtr()
{
    VFileBrowser* browser = Detach();
    VFileBrowser::DestroyClass(&browser);
}

// Holds one browser for its lifetime: made with VFileBrowser::CreateClass on
// construction, given back with VFileBrowser::DestroyClass on destruction.
// Get() is null when memory was short. Thread rules: one thread at a time.
class ZANTH_TOOLS_API PFileBrowser : public TSmartPtr<VFileBrowser>
{
public:
    PFileBrowser();
    ~PFileBrowser() override;
};

#endif // ZANTH_FILEBROWSER_H
