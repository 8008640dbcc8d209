// Callback lists: TCallback calls every registered function with an id and a data
// pointer; CMessageQueue is the same as a process-wide service (g_ptheMessageQueue).
#ifndef COREWU_CALLBACK_H
#define COREWU_CALLBACK_H

#include <corewu/config.h>

#include <mutex>
#include <vector>

// A registered callback receives the id, the data pointer and its own context.
typedef void (*TCallbackFunction)(DWORD id, void* data, void* context);

// A list of callbacks. Thread rules: Add, Remove and InvokeAll may be called from
// any thread; InvokeAll calls the functions registered when it began, outside the
// list's lock, so a callback may add or remove callbacks.
class COREWU_API TCallback
{
public:
    TCallback() = default;
    // Derived lists whose destructors save state may raise from them (the destructor
    // rule of RunDestructorWork), so the base allows it.
    virtual ~TCallback() noexcept(false) = default;
    TCallback(const TCallback&) = delete;
    TCallback& operator=(const TCallback&) = delete;

    // A null function is not registered.
    void Add(TCallbackFunction function, void* context);
    // Removes the first registration of this pair; false when there is none.
    bool Remove(TCallbackFunction function, void* context);
    void RemoveAll();
    UINT Count() const;
    void InvokeAll(DWORD id, void* data);

protected:
    // The notification entry of a derived class that is itself told of changes
    // (code, data and the context it registered with). The list never calls it on
    // its own; the base does nothing.
    virtual void Notify(LONG code, const void* data, void* context);

private:
    struct Entry
    {
        TCallbackFunction function;
        void* context;
    };
    mutable std::mutex m_Lock;
    std::vector<Entry> m_Entries;
};

// The callback queue of an application (one global instance, g_ptheMessageQueue).
class COREWU_API CMessageQueue : public TCallback
{};

extern COREWU_API CMessageQueue* g_ptheMessageQueue;

#endif // COREWU_CALLBACK_H
