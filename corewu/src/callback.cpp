// TCallback and CMessageQueue.
#include <corewu/callback.h>

void TCallback::Add(TCallbackFunction function, void* context)
{
    if (!function) {
        return; // nothing to call; InvokeAll would jump to address 0
    }
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Entries.push_back({function, context});
}

bool TCallback::Remove(TCallbackFunction function, void* context)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    for (auto it = m_Entries.begin(); it != m_Entries.end(); ++it) {
        if (it->function == function && it->context == context) {
            m_Entries.erase(it);
            return true;
        }
    }
    return false;
}

void TCallback::RemoveAll()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Entries.clear();
}

UINT TCallback::Count() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return static_cast<UINT>(m_Entries.size());
}

void TCallback::InvokeAll(DWORD id, void* data)
{
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        entries = m_Entries;
    }
    for (const Entry& entry : entries) {
        entry.function(id, data, entry.context);
    }
}

void TCallback::Notify(LONG, const void*, void*) {}
