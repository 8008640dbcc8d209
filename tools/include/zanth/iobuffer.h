// Buffered reading and writing through a fixed memory buffer: TIOBuffer, the reader
// TReadBuffer and writer TWriteBuffer, and their TFile bindings.
#ifndef ZANTH_IOBUFFER_H
#define ZANTH_IOBUFFER_H

#include <corewu/file.h>
#include <zanth/config.h>
#include <zanth/flexmem.h>

#include <cstddef>
#include <cstring>

// The memory buffer shared by readers and writers: a ZCFlexibleMemory whose
// committed window starts at offset 0 and is the buffer (BufferSize()). The
// reservation is made once by the constructor (size 0 means 0x100000 bytes, 1 MiB)
// and never moves; guard words sit on both sides of the buffer.
//
// Size() is the number of bytes of data the buffer holds, counted from its start:
// for a reader, where the data delivered by its source ends (bytes already consumed
// included; a fresh reader counts its whole buffer as consumed); for a writer, the
// pending bytes not yet passed to its sink.
//
// The object owns its buffer memory; it cannot be copied. Thread rules: one thread at
// a time per object.
class ZANTH_TOOLS_API TIOBuffer
{
public:
    TIOBuffer();
    // Reserves `size` bytes (0: 0x100000); nothing is committed yet. A failed
    // reservation raises FlexibleMemoryError message 0 and leaves nothing behind.
    explicit TIOBuffer(LONG size);
    virtual ~TIOBuffer() noexcept(false);
    TIOBuffer(const TIOBuffer&) = delete;
    TIOBuffer& operator=(const TIOBuffer&) = delete;

    LONG Size() const { return m_Size; }
    LONG BufferSize() const { return m_Memory.Size(); }

protected:
    unsigned char* BufferStart() const { return m_Memory.Start(); }
    unsigned char* BufferEnd() const { return m_Memory.Start() + m_Memory.Size(); }

    ZCFlexibleMemory m_Memory;
    // See Size(); for a reader the end-of-data mark, for a writer the pending count.
    LONG m_Size = 0;
    // A reader's next unread byte, a writer's next free byte. Always
    // BufferStart() <= m_pCurrent <= BufferStart() + m_Size.
    unsigned char* m_pCurrent = nullptr;

private:
    void Destructor();
};

// A buffer between a caller and a sequential source. BeginRead/EndRead hand out
// pointers into the buffer (no copy); Read copies into the caller's memory. A
// derived class binds the source by implementing ReadData.
//
// The buffer remembers where the source's data ends: a request near the end of the
// source gets exactly the bytes that remain, and a count below the request (for a
// request no larger than BufferSize()) means the source has run out. A single
// request yields at most BufferSize() bytes.
//
// Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API TReadBuffer : public TIOBuffer
{
public:
    TReadBuffer();
    // Reserves and commits `size` bytes (0: 0x100000). The buffer starts out counted
    // as consumed, so the first request fills it.
    explicit TReadBuffer(LONG size);
    ~TReadBuffer() noexcept(false) override;

    // Makes up to n bytes available at the returned pointer and stores their count
    // (at most n) through `got` when it is not null; refills from the source when
    // fewer than n unread bytes are buffered. Consume them with EndRead. A negative n
    // asks for nothing.
    unsigned char* BeginRead(LONG n, LONG* got)
    {
        if (n >= 0 && n <= Unread()) {
            if (got != nullptr) {
                *got = n;
            }
            return m_pCurrent;
        }
        return Refill(n, got);
    }
    // Consumes n bytes (at most the count BeginRead gave; larger counts stop at the
    // end of the buffered data, negative ones consume nothing).
    void EndRead(LONG n)
    {
        const std::ptrdiff_t unread = Unread();
        m_pCurrent += n < 0 ? 0 : (n > unread ? unread : n);
    }
    // Copies up to n bytes to dest and consumes them; returns the count.
    LONG Read(unsigned char* dest, LONG n)
    {
        if (n >= 0 && n <= Unread()) {
            if (n > 0) {
                std::memcpy(dest, m_pCurrent, static_cast<std::size_t>(n));
                m_pCurrent += n;
            }
            return n;
        }
        return ReadRefill(dest, n);
    }

protected:
    // Fills dest with up to n bytes from the source; returns how many it delivered.
    // Fewer than n means the source has no more. (Results outside 0..n are clamped.)
    // dest lies in the buffer, except for a Read of at least BufferSize() bytes: the
    // source's bytes then go straight to the caller's memory (the request sizes are
    // those of a refill through the buffer).
    virtual LONG ReadData(unsigned char* dest, LONG n) = 0;

private:
    std::ptrdiff_t Unread() const { return BufferStart() + m_Size - m_pCurrent; }
    // Moves the unread bytes to the front and reads the rest of the buffer.
    unsigned char* Refill(LONG n, LONG* got);
    // Read when the buffered bytes are not enough.
    LONG ReadRefill(unsigned char* dest, LONG n);
    void Destructor();
};

// A buffer between a caller and a sequential sink. BeginWrite/EndWrite hand out room
// in the buffer (no copy); Write copies from the caller's memory. A derived class
// binds the sink by implementing WriteData and the positioning operations.
//
// The buffer is committed on demand and is as large as the largest single request
// so far (at most the size given to the constructor; a larger request raises
// FlexibleMemoryError message 2 with its byte count). So a writer whose requests are
// all the same size passes each one to its sink; to collect many small pieces, give
// the buffer its full size first with BeginWrite(size) followed by EndWrite(0).
// Pending bytes reach the sink when a request does not fit, on Finish, and on Seek,
// End or Position of a derived class.
//
// A derived class writes out pending bytes in its own destructor (call Finish()
// there): when TWriteBuffer's destructor runs, the sink is gone. Bytes still pending
// then are lost, and the destructor raises a free-text error saying so. When the sink
// fails, the bytes stay pending for a later Finish, except those that it reported as
// delivered (Delivered).
//
// Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API TWriteBuffer : public TIOBuffer
{
public:
    TWriteBuffer();
    // Reserves `size` bytes (0: 0x100000); nothing is committed until the first
    // request.
    explicit TWriteBuffer(LONG size);
    ~TWriteBuffer() noexcept(false) override;

    // Moves the sink's position (pending bytes are written out first).
    virtual void Seek(LONG offset, ULONG mode) = 0;
    // Moves the sink's position to its end (pending bytes are written out first).
    virtual void End() = 0;
    // The sink's position after the pending bytes have been written out.
    virtual ULONG Position() = 0;

    // Returns room for n bytes: grows the buffer to n bytes when it is smaller, and
    // writes out the pending bytes first when n more do not fit. Place the bytes and
    // call EndWrite. A negative n asks for nothing.
    unsigned char* BeginWrite(LONG n)
    {
        if (n >= 0 && n <= Room()) {
            return m_pCurrent;
        }
        return MakeRoom(n);
    }
    // Counts n placed bytes as pending (at most the room BeginWrite gave; negative
    // counts add nothing).
    void EndWrite(LONG n)
    {
        const std::ptrdiff_t room = Room();
        m_pCurrent += n < 0 ? 0 : (n > room ? room : n);
        m_Size = static_cast<LONG>(m_pCurrent - BufferStart());
    }
    // Copies n bytes from src into the buffer, as BeginWrite(n) and EndWrite(n).
    void Write(const unsigned char* src, LONG n)
    {
        unsigned char* to = BeginWrite(n);
        if (n > 0) {
            std::memcpy(to, src, static_cast<std::size_t>(n));
            m_pCurrent += n;
            m_Size = static_cast<LONG>(m_pCurrent - BufferStart());
        }
    }
    // Passes the pending bytes to the sink, if there are any.
    void Finish();

protected:
    // Passes n bytes to the sink (all of them, or raises an error). A sink that took
    // some of them before it failed calls Delivered with their count before it
    // raises, so that they are no longer pending.
    virtual void WriteData(unsigned char* src, LONG n) = 0;
    // For WriteData when the sink failed part-way: the first n pending bytes reached
    // the sink. They leave the buffer (the rest moves to its start), so that a retry
    // (Finish, or the derived class's destructor) passes each byte to the sink once.
    void Delivered(LONG n);

private:
    std::ptrdiff_t Room() const { return BufferEnd() - m_pCurrent; }
    unsigned char* MakeRoom(LONG n);
    void Destructor();
};

// A TReadBuffer reading from a TFile from its position at construction (moved by
// `offset` relative to where the file stood). The file is the caller's: it stays
// open for the buffer's life and is not closed by it. The file's position runs ahead
// of what the caller has consumed by the bytes still buffered. Errors of the file
// pass through unchanged. Thread rules: one thread at a time per object and file.
class ZANTH_TOOLS_API TFileReadBuffer : public TReadBuffer
{
public:
    // `size` as TReadBuffer; `file` must not be null; the fourth argument is not
    // used.
    TFileReadBuffer(LONG size, TFile* file, LONG offset, LONG unused = 0);
    ~TFileReadBuffer() noexcept(false) override;

protected:
    LONG ReadData(unsigned char* dest, LONG n) override;

private:
    void Destructor();

    TFile* m_pFile;
};

// A TWriteBuffer writing to a TFile from its position at construction (moved by
// `offset` relative to where the file stood). The file is the caller's: it stays
// open for the buffer's life and is not closed by it. Destroying the buffer writes
// its pending bytes to the file. Position() is 32-bit: past 4 GiB it raises
// CoreErrors message 2 rather than return a cut-off value. Errors of the file pass
// through unchanged. Thread rules: one thread at a time per object and file.
class ZANTH_TOOLS_API TFileWriteBuffer : public TWriteBuffer
{
public:
    // `size` as TWriteBuffer; `file` must not be null.
    TFileWriteBuffer(LONG size, TFile* file, LONG offset);
    ~TFileWriteBuffer() noexcept(false) override;

    // Writes out pending bytes, then moves the file (mode 0 from the start, 1 from
    // the current position, 2 from the end).
    void Seek(LONG offset, ULONG mode) override;
    // Writes out pending bytes, then moves the file to its end.
    void End() override;
    // Writes out pending bytes, then returns the file's position.
    ULONG Position() override;

protected:
    void WriteData(unsigned char* src, LONG n) override;

private:
    void Destructor();

    TFile* m_pFile;
};

#endif // ZANTH_IOBUFFER_H
