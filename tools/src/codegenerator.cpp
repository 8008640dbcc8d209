// ZCCodeGenerator: set-up, growth by whole steps, and the checks around the code
// pointer. Writing itself is inline in the header (a bounds test and the stores).
#include "catalogs.h"

#include <corewu/errors.h>
#include <zanth/codegenerator.h>

#include <algorithm>

namespace ZANTH {

namespace {

[[noreturn]] void RaiseNoRoom()
{
    ThrowNewError(detail::g_CodeGeneratorCatalog, 1, TString::NullString, TString::NullString,
                  TString::NullString, nullptr);
}

unsigned long long Address(const void* p)
{
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p));
}

} // namespace

ZCCodeGenerator::ZCCodeGenerator() = default;

ZCCodeGenerator::~ZCCodeGenerator() noexcept(false) = default;

void ZCCodeGenerator::Init(unsigned int maximum, unsigned int initial)
{
    m_Memory.Decommit();
    // Until the new buffer stands, the generator is empty: a failure below leaves no
    // code pointer into memory that is not there, and every write raises message 1.
    m_pCodePtr = nullptr;
    m_CommittedSize = 0;
    m_GrowthStep = 0;
    m_Maximum = 0;
    m_Count = 0;
    // Reserve takes a signed 32-bit size: a maximum above 0x7FFFFFFF arrives negative
    // and is refused there with FlexibleMemoryError message 0.
    m_Memory.Reserve(static_cast<LONG>(maximum));
    m_pCodePtr = m_Memory.Start();
    m_Memory.Commit(0, static_cast<LONG>(initial));
    m_GrowthStep = initial;
    m_CommittedSize = initial;
    m_Maximum = maximum;
}

void ZCCodeGenerator::Delete()
{
    m_Memory.Decommit();
    m_CommittedSize = 0;
}

void ZCCodeGenerator::SetCodePtr(unsigned char* p)
{
    const unsigned long long start = Address(m_Memory.Start());
    const unsigned long long at = Address(p);
    if (at < start || at - start > m_Maximum) {
        ThrowNewError(
            0, 0,
            TString::Formatted(TEXT("ZCCodeGenerator::SetCodePtr: the pointer %08llX lies ")
                                   TEXT("outside the code buffer (%08llX, %u bytes)."),
                               at, start, m_Maximum),
            TString::NullString, TString::NullString, nullptr);
    }
    m_pCodePtr = p;
}

void ZCCodeGenerator::ReserveBytes(unsigned int n)
{
    if (n > 0x7FFFFFFFu) {
        // No buffer can hold it (the growth step is 32-bit signed at most); the
        // signed check below would take it for a negative count.
        if (m_Mode == WriteMode) {
            RaiseNoRoom();
        }
        m_Count += n;
        return;
    }
    if (Room(static_cast<LONG>(n))) {
        m_pCodePtr += n;
    }
}

void ZCCodeGenerator::GrowFor(LONG n)
{
    // One step at most, and never past the maximum less one step (compared signed:
    // once the window has reached that point the growth is zero or negative).
    const LONGLONG window = m_Memory.Size();
    const LONGLONG growth =
        std::min<LONGLONG>(m_GrowthStep, static_cast<LONGLONG>(m_Maximum) - m_GrowthStep - window);
    // Where the request would end, counted from the start. With the pointer inside the
    // window this is at most window + n; a pointer set further on may need more than
    // the one step can give, and is refused the same way.
    const LONGLONG needed =
        static_cast<LONGLONG>(Address(m_pCodePtr) - Address(m_Memory.Start())) + n;
    if (growth < n || needed > window + growth || m_Memory.Start() == nullptr) {
        RaiseNoRoom();
    }
    // The window keeps its offset 0: only the pages at its end are committed, the
    // code already written stays where it is.
    m_Memory.Commit(0, static_cast<LONG>(window + growth));
    m_CommittedSize = static_cast<unsigned int>(window + growth);
}

} // namespace ZANTH
