// ZCCodeGenerator: an append-only buffer for generated machine code that never moves.
#ifndef ZANTH_CODEGENERATOR_H
#define ZANTH_CODEGENERATOR_H

#include <zanth/config.h>
#include <zanth/flexmem.h>

#include <cstdint>

namespace ZANTH {

// An append-only byte buffer for generated machine code. Init reserves the maximum
// size once and commits the initial size; the buffer grows by one step (the initial
// size) at a time as the code needs it, by committing pages at its end, so bytes
// never move and addresses taken from it stay valid. It grows up to the maximum less
// one step; a request that one step cannot cover raises message 1 of the catalog
// "ZCZCCodeGeneratorMSG" and changes nothing.
//
// In counting mode (Mode(CountMode)) Write and ReserveBytes only add to CodeSize(),
// so an emitter can be run once to learn how many bytes its code needs.
//
// The pages are read-write, never executable. The code pointer is the caller's to
// keep inside the buffer; SetCodePtr refuses a pointer outside the reservation with
// a free-text error. The object owns its reservation; it cannot be copied.
// Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API ZCCodeGenerator
{
public:
    // 1 writes; any other value only counts.
    enum TCodeGenMode
    {
        CountMode = 0,
        WriteMode = 1
    };

    ZCCodeGenerator();
    // Releases the reservation (through the memory member, under the library's
    // destructor rule).
    virtual ~ZCCodeGenerator() noexcept(false);
    ZCCodeGenerator(const ZCCodeGenerator&) = delete;
    ZCCodeGenerator& operator=(const ZCCodeGenerator&) = delete;

    // Drops any old code, reserves `maximum` bytes and commits `initial` bytes at the
    // start; the growth step is `initial`; the code pointer goes to the start and the
    // count to 0. Errors of reserving and committing are FlexibleMemoryError's; after
    // one, the generator holds no code and every write raises message 1.
    void Init(unsigned int maximum, unsigned int initial);
    // Gives the committed pages back; the reservation stays (Init reuses it).
    void Delete();

    unsigned char* GetCodePtr() { return m_pCodePtr; }
    // Moves the code pointer (to patch earlier bytes or to go on elsewhere in the
    // buffer). A pointer outside the reservation raises a free-text error.
    void SetCodePtr(unsigned char* p);
    void Mode(TCodeGenMode mode) { m_Mode = mode; }

    // Makes room for n bytes and skips them, leaving them as they are (writing mode);
    // adds n to the count (counting mode).
    void ReserveBytes(unsigned int n);

    // Stores the bytes at the code pointer in argument order and advances it
    // (writing mode); adds their number to the count (counting mode). Each call
    // checks for room once. (The stores go through a local pointer: a byte store may
    // alias anything, so the member would be read again after each of them.)
    void Write(unsigned char b1)
    {
        if (Room(1)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            m_pCodePtr = p + 1;
        }
    }
    void Write(unsigned char b1, unsigned char b2)
    {
        if (Room(2)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            p[1] = b2;
            m_pCodePtr = p + 2;
        }
    }
    void Write(unsigned char b1, unsigned char b2, unsigned char b3)
    {
        if (Room(3)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            p[1] = b2;
            p[2] = b3;
            m_pCodePtr = p + 3;
        }
    }
    void Write(unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4)
    {
        if (Room(4)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            p[1] = b2;
            p[2] = b3;
            p[3] = b4;
            m_pCodePtr = p + 4;
        }
    }
    void Write(unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4,
               unsigned char b5)
    {
        if (Room(5)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            p[1] = b2;
            p[2] = b3;
            p[3] = b4;
            p[4] = b5;
            m_pCodePtr = p + 5;
        }
    }
    void Write(unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4,
               unsigned char b5, unsigned char b6)
    {
        if (Room(6)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            p[1] = b2;
            p[2] = b3;
            p[3] = b4;
            p[4] = b5;
            p[5] = b6;
            m_pCodePtr = p + 6;
        }
    }
    void Write(unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4,
               unsigned char b5, unsigned char b6, unsigned char b7)
    {
        if (Room(7)) {
            unsigned char* p = m_pCodePtr;
            p[0] = b1;
            p[1] = b2;
            p[2] = b3;
            p[3] = b4;
            p[4] = b5;
            p[5] = b6;
            p[6] = b7;
            m_pCodePtr = p + 7;
        }
    }

    // The number of bytes announced while counting.
    ULONG CodeSize() { return m_Count; }

private:
    // In writing mode: makes room for n bytes and returns true. In counting mode:
    // adds n to the count and returns false.
    bool Room(LONG n)
    {
        if (m_Mode != WriteMode) {
            m_Count += static_cast<ULONG>(n);
            return false;
        }
        CheckMemory(n);
        return true;
    }
    // Grows the committed window by one step when n bytes do not fit at the code
    // pointer; raises message 1 when one step is not enough.
    void CheckMemory(LONG n)
    {
        // Integer arithmetic: the pointer may stand anywhere in the reservation.
        const auto end = reinterpret_cast<std::intptr_t>(m_Memory.Start()) + m_Memory.Size();
        if (end - reinterpret_cast<std::intptr_t>(m_pCodePtr) < n) {
            GrowFor(n);
        }
    }
    void GrowFor(LONG n);

    ZCFlexibleMemory m_Memory;
    unsigned char* m_pCodePtr = nullptr;
    unsigned int m_CommittedSize = 0;
    unsigned int m_GrowthStep = 0;
    TCodeGenMode m_Mode = WriteMode;
    ULONG m_Count = 0;
    unsigned int m_Maximum = 0;
};

} // namespace ZANTH

#endif // ZANTH_CODEGENERATOR_H
