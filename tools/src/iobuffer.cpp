// TIOBuffer, TReadBuffer and TWriteBuffer: the buffer memory, the reader's refill
// and the writer's growth and write-out. The hot paths (a request that the buffer
// can answer as it stands) are inline in the header; this file holds the rest.
#include "iobufferimpl.h"

#include <corewu/errors.h>
#include <zanth/iobuffer.h>

#include <algorithm>

namespace {

constexpr LONG kDefaultSize = 0x100000;

LONG EffectiveSize(LONG size)
{
    return size == 0 ? kDefaultSize : size;
}

} // namespace

// --- TIOBuffer ---------------------------------------------------------------------

TIOBuffer::TIOBuffer() : TIOBuffer(0) {}

TIOBuffer::TIOBuffer(LONG size)
{
    ZANTH::detail::ConstructOrCleanUp([&] { m_Memory.Reserve(EffectiveSize(size)); },
                                      [this] { Destructor(); });
    m_pCurrent = m_Memory.Start();
}

TIOBuffer::~TIOBuffer() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void TIOBuffer::Destructor()
{
    // The buffer memory is released by its own destructor.
}

// --- TReadBuffer -------------------------------------------------------------------

TReadBuffer::TReadBuffer() : TReadBuffer(0) {}

TReadBuffer::TReadBuffer(LONG size) : TIOBuffer(size)
{
    ZANTH::detail::ConstructOrCleanUp([&] { m_Memory.Commit(0, EffectiveSize(size)); },
                                      [this] { Destructor(); });
    // The whole buffer counts as consumed data, so the first request refills it.
    m_Size = m_Memory.Size();
    m_pCurrent = BufferStart() + m_Size;
}

TReadBuffer::~TReadBuffer() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void TReadBuffer::Destructor()
{
    // A reader holds nothing that has to go anywhere.
}

unsigned char* TReadBuffer::Refill(LONG n, LONG* got)
{
    if (n < 0) {
        // A request for nothing: no reason to touch the source.
        if (got != nullptr) {
            *got = 0;
        }
        return m_pCurrent;
    }
    unsigned char* start = BufferStart();
    const LONG size = BufferSize();
    const LONG unread = static_cast<LONG>(Unread());
    if (unread > 0 && m_pCurrent != start) {
        std::memmove(start, m_pCurrent, static_cast<std::size_t>(unread));
    }
    // The state is consistent before the source is asked, so an error raised by
    // ReadData leaves the unread bytes in place for the next request.
    m_pCurrent = start;
    m_Size = unread;
    const LONG room = size - unread;
    if (room > 0) {
        const LONG delivered = ReadData(start + unread, room);
        m_Size = unread + std::clamp<LONG>(delivered, 0, room);
    }
    if (got != nullptr) {
        *got = std::min(n, m_Size);
    }
    return m_pCurrent;
}

LONG TReadBuffer::ReadRefill(unsigned char* dest, LONG n)
{
    const LONG size = BufferSize();
    if (n >= size && size > 0) {
        // The request takes everything a refill can give (the unread bytes and the
        // rest of the buffer from the source), so the source's bytes go straight to
        // the caller instead of through the buffer. The source is asked for exactly
        // what a refill would ask, and the buffer ends up as after a refill whose
        // bytes were all consumed. Nothing changes before the source has answered: if
        // it raises an error, the unread bytes stay for the next request.
        const LONG unread = static_cast<LONG>(Unread());
        const LONG room = size - unread;
        if (unread > 0) {
            std::memcpy(dest, m_pCurrent, static_cast<std::size_t>(unread));
        }
        LONG delivered = 0;
        if (room > 0) {
            delivered = std::clamp<LONG>(ReadData(dest + unread, room), 0, room);
        }
        m_Size = unread + delivered;
        m_pCurrent = BufferStart() + m_Size;
        return m_Size;
    }
    LONG count = 0;
    const unsigned char* from = Refill(n, &count);
    if (count > 0) {
        std::memcpy(dest, from, static_cast<std::size_t>(count));
        m_pCurrent += count;
    }
    return count;
}

// --- TWriteBuffer ------------------------------------------------------------------

TWriteBuffer::TWriteBuffer() : TWriteBuffer(0) {}

TWriteBuffer::TWriteBuffer(LONG size) : TIOBuffer(size) {}

TWriteBuffer::~TWriteBuffer() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void TWriteBuffer::Destructor()
{
    // The derived class that owned the sink has already been destroyed, so WriteData
    // can no longer be called; a derived class writes its pending bytes out in its
    // own destructor. Bytes still pending here are lost, which is reported rather
    // than passed over.
    const LONG pending = static_cast<LONG>(m_pCurrent - BufferStart());
    if (pending > 0) {
        m_pCurrent = BufferStart();
        m_Size = 0;
        ThrowNewError(
            0, 0,
            TString::Formatted(TEXT("TWriteBuffer: %ld pending bytes were lost: the ")
                                   TEXT("writer was destroyed without Finish(); a class ")
                                       TEXT("derived from TWriteBuffer calls Finish() in its ")
                                           TEXT("destructor."),
                               pending),
            TString::NullString, TString::NullString, nullptr);
    }
}

unsigned char* TWriteBuffer::MakeRoom(LONG n)
{
    if (n < 0) {
        return m_pCurrent;
    }
    if (n > BufferSize()) {
        // Pending bytes keep their place: the window only grows at its end. A request
        // larger than the reserved size cannot be committed (message 2 with the
        // request's byte count), even where the reservation's last page would hold it.
        const std::ptrdiff_t pending = m_pCurrent - BufferStart();
        m_Memory.CommitWithinReserved(0, n);
        m_pCurrent = BufferStart() + pending;
    }
    if (n > Room()) {
        Finish();
    }
    return m_pCurrent;
}

void TWriteBuffer::Delivered(LONG n)
{
    const LONG pending = static_cast<LONG>(m_pCurrent - BufferStart());
    n = std::clamp<LONG>(n, 0, pending);
    if (n == 0) {
        return;
    }
    std::memmove(BufferStart(), BufferStart() + n, static_cast<std::size_t>(pending - n));
    m_pCurrent -= n;
    m_Size = static_cast<LONG>(m_pCurrent - BufferStart());
}

void TWriteBuffer::Finish()
{
    const LONG pending = static_cast<LONG>(m_pCurrent - BufferStart());
    if (pending > 0) {
        WriteData(BufferStart(), pending);
        m_pCurrent = BufferStart();
        m_Size = 0;
    }
}
