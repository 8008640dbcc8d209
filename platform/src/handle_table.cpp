// The process-wide handle table: InsertHandle, LookupHandle, VisitHandle and
// RemoveHandle for the other areas, CloseHandle and DuplicateHandle for callers.
//
// The table is a two-level array of slots that is never shrunk. A handle encodes
// the slot index and a generation count, so a closed handle whose slot was reused
// is still recognised as invalid instead of naming somebody else's object. A slot
// whose generation has reached its last value is retired when that handle is
// closed: counting on from 0 would, after 2^20 reuses, give an old handle back its
// validity, naming whatever object then sits in the slot.
//
// Looking a handle up takes no lock and writes nothing that other threads read
// often: every SetEvent, ReleaseMutex and wait goes through here, and a lock per
// slot made the threads that share a handle hand its cache line to and fro. A
// lookup announces itself in a per-thread record (an odd visit count), reads the
// slot's state (generation and "in use"), reads the object pointer, checks the
// state once more and then uses the object. CloseHandle first marks the slot free
// (a new generation), then waits until every visit that was running at that moment
// has ended, and only then lets go of its reference. A visit that started after the
// mark sees the new generation and reports ERROR_INVALID_HANDLE. Visits are short
// and never block, so the wait in CloseHandle is short too; it is a wait for other
// threads to leave a few instructions, not for an event.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <deque>
#include <pthread.h>
#include <sched.h>

namespace zanth::platform {
namespace {

constexpr std::uint32_t kSlotsPerChunk = 1024;
constexpr std::uint32_t kChunks = 1024;
constexpr std::uint32_t kIndexBits = 20; // kSlotsPerChunk * kChunks == 1 << 20
constexpr std::uint32_t kGenerationMask = (1u << 20) - 1;
// The state of a retired slot: free, with a generation that no handle can carry.
constexpr std::uint32_t kRetired = (kGenerationMask + 1) << 1;

// One cache line per slot, so that threads using neighbouring handles do not contend.
struct alignas(64) Slot
{
    // (generation << 1) | 1 while the slot holds an object, generation << 1 while
    // it is free. Changed only by Insert and Remove.
    std::atomic<std::uint32_t> state{0};
    // The object of the current generation, published before the state. Read by
    // lookups, which trust it only when the state still matches afterwards.
    std::atomic<KernelObject*> raw{nullptr};
    // The slot's reference; written only by the Insert or Remove that owns the slot.
    ObjectPtr object;
};

struct Chunk
{
    Slot slots[kSlotsPerChunk];
};

constexpr std::uint32_t Live(std::uint32_t generation)
{
    return (generation << 1) | 1u;
}

// ---------------------------------------------------------------------------
// Visit records: one per thread, on a line of its own. `visits` is odd while the
// thread is inside a lookup. Records are kept in a list that only grows; a thread
// that ends gives its record back for the next new thread.
// ---------------------------------------------------------------------------
struct alignas(64) VisitRecord
{
    std::atomic<std::uint64_t> visits{0};
    std::atomic<bool> taken{true};
    VisitRecord* next = nullptr;
};

std::atomic<VisitRecord*> g_Records{nullptr};

VisitRecord* TakeRecord()
{
    for (VisitRecord* record = g_Records.load(std::memory_order_acquire); record;
         record = record->next) {
        bool free = false;
        if (!record->taken.load(std::memory_order_relaxed) &&
            record->taken.compare_exchange_strong(free, true, std::memory_order_acquire)) {
            return record;
        }
    }
    auto* record = new VisitRecord;
    VisitRecord* head = g_Records.load(std::memory_order_relaxed);
    do {
        record->next = head;
    } while (!g_Records.compare_exchange_weak(head, record, std::memory_order_seq_cst,
                                              std::memory_order_relaxed));
    return record;
}

void GiveBackRecord(VisitRecord* record)
{
    record->taken.store(false, std::memory_order_release);
}

// The calling thread's record. Trivial thread-locals, so that reading them costs no
// initialisation check; the owner object that gives the record back at thread end
// is made once, when the record is taken.
thread_local VisitRecord* t_Record = nullptr;
thread_local bool t_RecordGivenBack = false;

struct RecordOwner
{
    ~RecordOwner()
    {
        if (t_Record) {
            GiveBackRecord(t_Record);
            t_Record = nullptr;
        }
        t_RecordGivenBack = true;
    }
};

// Null once the thread's own record was given back (while its other thread-local
// objects are destroyed): the lookup then borrows one for its duration.
VisitRecord* ThreadRecord()
{
    if (VisitRecord* record = t_Record) {
        return record;
    }
    if (t_RecordGivenBack) {
        return nullptr;
    }
    t_Record = TakeRecord();
    thread_local RecordOwner owner;
    (void)owner;
    return t_Record;
}

// A child made by fork has only the forking thread: visits that other threads were
// in when it forked never end there, so they are closed, and their records freed.
void AfterForkInChild()
{
    for (VisitRecord* record = g_Records.load(std::memory_order_acquire); record;
         record = record->next) {
        if (record == t_Record) {
            continue;
        }
        const std::uint64_t visits = record->visits.load(std::memory_order_relaxed);
        record->visits.store(visits + (visits & 1), std::memory_order_relaxed);
        record->taken.store(false, std::memory_order_relaxed);
    }
}

// Waits until every visit that is running now has ended. Called after a slot was
// marked free, so that no visit can still be using the slot's old object.
//
// No fence is needed: the mark (a sequentially consistent compare-and-swap), the
// visit's announcement and the two sides' later loads are all sequentially
// consistent, so in their single order either the announcement comes before the
// load here (the visit is waited for) or the mark comes before the visit's load of
// the slot state (the visit sees the slot free). The same holds for a record added
// to the list after the list was read here.
void WaitForRunningVisits()
{
    for (VisitRecord* record = g_Records.load(std::memory_order_seq_cst); record;
         record = record->next) {
        const std::uint64_t visits = record->visits.load(std::memory_order_seq_cst);
        if (visits & 1) {
            while (record->visits.load(std::memory_order_acquire) == visits) {
                sched_yield();
            }
        }
    }
}

class HandleTable
{
public:
    HandleTable() { pthread_atfork(nullptr, nullptr, AfterForkInChild); }

    HANDLE Insert(ObjectPtr object)
    {
        std::uint32_t index;
        {
            std::lock_guard<std::mutex> guard(m_AllocLock);
            if (!m_Free.empty()) {
                index = m_Free.front();
                m_Free.pop_front();
            } else if (m_Next < kSlotsPerChunk * kChunks) {
                index = m_Next++;
                std::uint32_t chunk = index / kSlotsPerChunk;
                if (!m_Chunks[chunk].load(std::memory_order_acquire)) {
                    m_Chunks[chunk].store(new Chunk, std::memory_order_release);
                }
            } else {
                ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            ++m_Open;
        }
        // The slot is this thread's until its state says it is in use.
        Slot& slot = SlotAt(index);
        const std::uint32_t generation = slot.state.load(std::memory_order_relaxed) >> 1;
        slot.raw.store(object.get(), std::memory_order_release);
        slot.object = std::move(object);
        slot.state.store(Live(generation), std::memory_order_release);
        return Encode(index, generation);
    }

    bool Visit(HANDLE handle, void (*visit)(KernelObject&, void*), void* context)
    {
        std::uint32_t index, generation;
        Slot* slot = Decode(handle, index, generation);
        if (!slot) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        VisitRecord* record = ThreadRecord();
        const bool borrowed = record == nullptr;
        if (borrowed) {
            record = TakeRecord();
        }
        const std::uint64_t visits = record->visits.load(std::memory_order_relaxed);
        // Announce the visit before reading the slot: a Remove that marks the slot
        // after this store sees the visit and waits for it; one that marked it
        // before is seen by the state check.
        record->visits.store(visits + 1, std::memory_order_seq_cst);
        KernelObject* object = nullptr;
        const std::uint32_t expected = Live(generation);
        if (slot->state.load(std::memory_order_seq_cst) == expected) {
            object = slot->raw.load(std::memory_order_acquire);
            // The pointer may already belong to a later generation: trust it only
            // if the slot is still the handle's.
            if (slot->state.load(std::memory_order_acquire) != expected) {
                object = nullptr;
            }
        }
        if (object) {
            visit(*object, context);
        }
        record->visits.store(visits + 2, std::memory_order_release);
        if (borrowed) {
            GiveBackRecord(record);
        }
        if (!object) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        return true;
    }

    ObjectPtr Remove(HANDLE handle)
    {
        std::uint32_t index = 0, generation = 0;
        Slot* slot = Decode(handle, index, generation);
        std::uint32_t expected = Live(generation);
        const bool retire = generation == kGenerationMask;
        const std::uint32_t next = retire ? kRetired : (generation + 1) << 1;
        if (!slot ||
            !slot->state.compare_exchange_strong(expected, next, std::memory_order_seq_cst)) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        // The slot is this thread's now: no new visit can reach the object through
        // it, and the ones still running end before the reference is handed out.
        ObjectPtr object = std::move(slot->object);
        slot->object.reset();
        WaitForRunningVisits();
        std::lock_guard<std::mutex> guard(m_AllocLock);
        if (!retire) {
            m_Free.push_back(index);
        }
        --m_Open;
        return object;
    }

    // Moves a live handle's slot to its last generation; returns the handle under
    // that generation (the old value is invalid from then on).
    HANDLE Age(HANDLE handle)
    {
        std::uint32_t index = 0, generation = 0;
        Slot* slot = Decode(handle, index, generation);
        std::uint32_t expected = Live(generation);
        if (!slot || !slot->state.compare_exchange_strong(expected, Live(kGenerationMask),
                                                          std::memory_order_seq_cst)) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        return Encode(index, kGenerationMask);
    }

    DWORD OpenCount()
    {
        std::lock_guard<std::mutex> guard(m_AllocLock);
        return m_Open;
    }

private:
    static HANDLE Encode(std::uint32_t index, std::uint32_t generation)
    {
        std::uintptr_t value = ((static_cast<std::uintptr_t>(generation) << kIndexBits) |
                                (static_cast<std::uintptr_t>(index) + 1))
                               << 2;
        return reinterpret_cast<HANDLE>(value);
    }

    Slot* Decode(HANDLE handle, std::uint32_t& index, std::uint32_t& generation)
    {
        std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
        if (value == 0 || (value & 3) != 0 || handle == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        value >>= 2;
        std::uintptr_t slotNumber = value & ((1u << kIndexBits) - 1);
        std::uintptr_t gen = value >> kIndexBits;
        if (slotNumber == 0 || gen > kGenerationMask) {
            return nullptr;
        }
        index = static_cast<std::uint32_t>(slotNumber - 1);
        generation = static_cast<std::uint32_t>(gen);
        Chunk* chunk = m_Chunks[index / kSlotsPerChunk].load(std::memory_order_acquire);
        if (!chunk) {
            return nullptr;
        }
        return &chunk->slots[index % kSlotsPerChunk];
    }

    Slot& SlotAt(std::uint32_t index)
    {
        return m_Chunks[index / kSlotsPerChunk]
            .load(std::memory_order_acquire)
            ->slots[index % kSlotsPerChunk];
    }

    std::atomic<Chunk*> m_Chunks[kChunks] = {};
    std::mutex m_AllocLock;
    std::deque<std::uint32_t> m_Free;
    std::uint32_t m_Next = 0;
    DWORD m_Open = 0;
};

// Never destroyed: handles may be closed by other libraries' destructors at exit.
HandleTable& Table()
{
    static HandleTable* const table = new HandleTable;
    return *table;
}

} // namespace

HANDLE InsertHandle(ObjectPtr object)
{
    return Table().Insert(std::move(object));
}

ObjectPtr LookupHandle(HANDLE handle)
{
    ObjectPtr object;
    auto take = [&](KernelObject& found) { object = found.shared_from_this(); };
    WithHandle(handle, take);
    return object;
}

bool VisitHandle(HANDLE handle, void (*visit)(KernelObject&, void*), void* context)
{
    return Table().Visit(handle, visit, context);
}

ObjectPtr RemoveHandle(HANDLE handle)
{
    return Table().Remove(handle);
}

HANDLE HandleOrNull(ObjectPtr object)
{
    if (!object) {
        return nullptr;
    }
    DWORD error = ::GetLastError();
    HANDLE handle = InsertHandle(std::move(object));
    if (handle) {
        ::SetLastError(error);
    }
    return handle;
}

} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI CloseHandle(HANDLE object)
{
    ObjectPtr removed = RemoveHandle(object);
    if (!removed) {
        return FALSE;
    }
    removed->OnHandleClosed();
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

BOOL WINAPI DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                            LPHANDLE target, DWORD /*access*/, BOOL /*inherit*/, DWORD options)
{
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess() || !target) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ObjectPtr object = LookupHandle(source);
    if (!object) {
        return FALSE;
    }
    HANDLE copy = InsertHandle(object);
    if (!copy) {
        return FALSE;
    }
    *target = copy;
    if (options & DUPLICATE_CLOSE_SOURCE) {
        CloseHandle(source);
    }
    return TRUE;
}

DWORD ZanthOpenHandleCount(void)
{
    return Table().OpenCount();
}

HANDLE ZanthAgeHandle(HANDLE handle)
{
    return Table().Age(handle);
}

} // extern "C"
