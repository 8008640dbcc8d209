// Thread-local storage indices: TlsAlloc, TlsGetValue, TlsSetValue and TlsFree.
// TlsAlloc hands out an index whose value is null in every thread; a generation
// per index makes values left from a freed index invisible without visiting other
// threads.
#include <zanth/win32/windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {

constexpr DWORD kTlsSlots = 1088; // TLS_MINIMUM_AVAILABLE plus the expansion slots

struct TlsIndexTable
{
    std::mutex lock;
    bool used[kTlsSlots] = {};
    std::atomic<std::uint32_t> generation[kTlsSlots] = {};
};

TlsIndexTable& TlsIndices()
{
    static TlsIndexTable* table = new TlsIndexTable;
    return *table;
}

struct TlsValue
{
    std::uint32_t generation = 0;
    void* value = nullptr;
};

thread_local std::vector<TlsValue> t_TlsValues;

bool TlsIndexInUse(DWORD index, std::uint32_t& generation)
{
    if (index >= kTlsSlots) {
        return false;
    }
    TlsIndexTable& table = TlsIndices();
    std::lock_guard<std::mutex> guard(table.lock);
    generation = table.generation[index].load(std::memory_order_relaxed);
    return table.used[index];
}

} // namespace

extern "C" {

DWORD WINAPI TlsAlloc(void)
{
    TlsIndexTable& table = TlsIndices();
    std::lock_guard<std::mutex> guard(table.lock);
    for (DWORD i = 0; i < kTlsSlots; ++i) {
        if (!table.used[i]) {
            table.used[i] = true;
            table.generation[i].fetch_add(1, std::memory_order_relaxed);
            return i;
        }
    }
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
}

LPVOID WINAPI TlsGetValue(DWORD index)
{
    std::uint32_t generation;
    if (!TlsIndexInUse(index, generation)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ::SetLastError(ERROR_SUCCESS);
    if (index >= t_TlsValues.size() || t_TlsValues[index].generation != generation) {
        return nullptr;
    }
    return t_TlsValues[index].value;
}

BOOL WINAPI TlsSetValue(DWORD index, LPVOID value)
{
    std::uint32_t generation;
    if (!TlsIndexInUse(index, generation)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= t_TlsValues.size()) {
        t_TlsValues.resize(index + 1);
    }
    t_TlsValues[index] = TlsValue{generation, value};
    return TRUE;
}

BOOL WINAPI TlsFree(DWORD index)
{
    TlsIndexTable& table = TlsIndices();
    std::lock_guard<std::mutex> guard(table.lock);
    if (index >= kTlsSlots || !table.used[index]) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    table.used[index] = false;
    return TRUE;
}

} // extern "C"
