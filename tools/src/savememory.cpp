// TSaveMemory, MEM_Set, MEM_CopyInvert and the MEM_ bit tables.
#include <zanth/savememory.h>

#include <cstring>

TSaveMemory::TSaveMemory(LONG size)
{
    if (size > 0) {
        Reserve(size);
        Commit(0, size);
    }
}

TSaveMemory::~TSaveMemory() noexcept(false) {}

unsigned char* TSaveMemory::Create(LONG size)
{
    Reserve(size);
    Commit(0, size);
    return Start();
}

void* MEM_Set(void* p, int value, unsigned int count, unsigned int forward)
{
    auto* bytes = static_cast<unsigned char*>(p);
    if (!forward) {
        bytes -= count;
    }
    if (count != 0) {
        std::memset(bytes, value & 0xFF, count);
    }
    return bytes;
}

void* MEM_CopyInvert(void* dest, const void* src, unsigned int count, unsigned int invert)
{
    auto* to = static_cast<unsigned char*>(dest);
    const auto* from = static_cast<const unsigned char*>(src);
    const unsigned char mask = invert ? 0xFF : 0x00;
    for (unsigned int i = 0; i < count; ++i) {
        to[i] = static_cast<unsigned char>(from[i] ^ mask);
    }
    return dest;
}

const unsigned char MEM_ByteBit[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
const unsigned char MEM_ByteBitsToBitMask[8] = {0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF};
const unsigned char MEM_ByteBitsFromBitMask[8] = {0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};

const ULONG MEM_Bit[32] = {
    0x00000080, 0x00000040, 0x00000020, 0x00000010, 0x00000008, 0x00000004, 0x00000002, 0x00000001,
    0x00008000, 0x00004000, 0x00002000, 0x00001000, 0x00000800, 0x00000400, 0x00000200, 0x00000100,
    0x00800000, 0x00400000, 0x00200000, 0x00100000, 0x00080000, 0x00040000, 0x00020000, 0x00010000,
    0x80000000, 0x40000000, 0x20000000, 0x10000000, 0x08000000, 0x04000000, 0x02000000, 0x01000000,
};

const ULONG MEM_BitsToBitMask[32] = {
    0x00000080, 0x000000C0, 0x000000E0, 0x000000F0, 0x000000F8, 0x000000FC, 0x000000FE, 0x000000FF,
    0x000080FF, 0x0000C0FF, 0x0000E0FF, 0x0000F0FF, 0x0000F8FF, 0x0000FCFF, 0x0000FEFF, 0x0000FFFF,
    0x0080FFFF, 0x00C0FFFF, 0x00E0FFFF, 0x00F0FFFF, 0x00F8FFFF, 0x00FCFFFF, 0x00FEFFFF, 0x00FFFFFF,
    0x80FFFFFF, 0xC0FFFFFF, 0xE0FFFFFF, 0xF0FFFFFF, 0xF8FFFFFF, 0xFCFFFFFF, 0xFEFFFFFF, 0xFFFFFFFF,
};

const ULONG MEM_BitsFromBitMask[32] = {
    0xFFFFFFFF, 0xFFFFFF7F, 0xFFFFFF3F, 0xFFFFFF1F, 0xFFFFFF0F, 0xFFFFFF07, 0xFFFFFF03, 0xFFFFFF01,
    0xFFFFFF00, 0xFFFF7F00, 0xFFFF3F00, 0xFFFF1F00, 0xFFFF0F00, 0xFFFF0700, 0xFFFF0300, 0xFFFF0100,
    0xFFFF0000, 0xFF7F0000, 0xFF3F0000, 0xFF1F0000, 0xFF0F0000, 0xFF070000, 0xFF030000, 0xFF010000,
    0xFF000000, 0x7F000000, 0x3F000000, 0x1F000000, 0x0F000000, 0x07000000, 0x03000000, 0x01000000,
};
