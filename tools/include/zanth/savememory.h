// Guarded memory blocks, byte filling and inverted copying, and the MEM_ bit tables.
#ifndef ZANTH_SAVEMEMORY_H
#define ZANTH_SAVEMEMORY_H

#include <zanth/config.h>
#include <zanth/flexmem.h>

// A heap-like block with a guard word on both sides: the committed window of a
// ZCFlexibleMemory at offset 0, so the 4 bytes before Start() and the 4 bytes at
// Start() + Size() hold 0x12345678. Check() tells whether a caller wrote past
// either end; nothing checks automatically. The object owns its block and cannot
// be copied. Errors: those of ZCFlexibleMemory (messages 0 to 3).
// Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API TSaveMemory : public ZCFlexibleMemory
{
public:
    // A size above 0 reserves and commits a block of that size; 0 (the default)
    // reserves nothing.
    explicit TSaveMemory(LONG size = 0);
    ~TSaveMemory() noexcept(false) override;

    // Gives up any older block and makes a new one of `size` bytes (zero-filled);
    // returns its start.
    unsigned char* Create(LONG size);
    unsigned char* Start() const { return ZCFlexibleMemory::Start(); }
    LONG Size() const { return ZCFlexibleMemory::Size(); }
    // 1 when both guard words are intact or the block is empty, else 0.
    unsigned int Check() const { return ZCFlexibleMemory::Check(); }
    // Gives the block's pages back (Size() becomes 0); the reservation stays until
    // the next Create or the destruction.
    void Delete() { ZCFlexibleMemory::Decommit(); }
};

// Fills count bytes with the low byte of value. With forward non-zero the bytes are
// p .. p + count - 1 and the result is p; with forward 0, p is the end of the area:
// the bytes are p - count .. p - 1 and the result is p - count.
ZANTH_TOOLS_API void* MEM_Set(void* p, int value, unsigned int count, unsigned int forward);

// Copies count bytes from src to dest, front to back one byte at a time (so an
// overlapping dest behind src repeats the pattern), each byte inverted when invert
// is non-zero. Returns dest.
ZANTH_TOOLS_API void* MEM_CopyInvert(void* dest, const void* src, unsigned int count,
                                     unsigned int invert);

// Bit masks for bitmaps whose bits run from the most significant bit of each byte.
// For bit i (0..31) let b = i / 8 and k = i % 8 (0 = most significant). The 32-bit
// tables are little-endian words: a 32-bit load of four bitmap bytes can be masked
// with them directly.
// 0x80 >> k: the single bit k.
extern ZANTH_TOOLS_API const unsigned char MEM_ByteBit[8];
// Bits 0..k: 0x80, 0xC0, ..., 0xFF.
extern ZANTH_TOOLS_API const unsigned char MEM_ByteBitsToBitMask[8];
// Bits k..7: 0xFF, 0x7F, ..., 0x01.
extern ZANTH_TOOLS_API const unsigned char MEM_ByteBitsFromBitMask[8];
// (0x80 >> k) << (8 * b): the single bit i.
extern ZANTH_TOOLS_API const ULONG MEM_Bit[32];
// Bits 0..i: bytes before b are 0xFF, byte b is MEM_ByteBitsToBitMask[k], later 0.
extern ZANTH_TOOLS_API const ULONG MEM_BitsToBitMask[32];
// Bits i..31: byte b is MEM_ByteBitsFromBitMask[k], later bytes 0xFF, earlier 0.
extern ZANTH_TOOLS_API const ULONG MEM_BitsFromBitMask[32];

#endif // ZANTH_SAVEMEMORY_H
