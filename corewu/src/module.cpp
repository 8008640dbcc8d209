// The module list and the run-time hooks.
#include <corewu/module.h>

#include <corewu/log.h>

#include <new>

void TModuleList::Append(const TModuleRecord& record)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Records.push_back(record);
}

std::size_t TModuleList::Count() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Records.size();
}

TModuleRecord TModuleList::At(std::size_t index) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return index < m_Records.size() ? m_Records[index] : TModuleRecord();
}

bool TModuleList::Find(HMODULE module, TModuleRecord& record) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    for (auto it = m_Records.rbegin(); it != m_Records.rend(); ++it) {
        if (it->module == module) {
            record = *it;
            return true;
        }
    }
    return false;
}

void zanth_new_handler()
{
    if (g_ptheLogfile) {
        g_ptheLogfile->Write(1, TEXT("Out of memory: an allocation failed."));
    }
    throw std::bad_alloc();
}

void zanth_exception_transformation() {}
