// TSaveMemory, MEM_Set, MEM_CopyInvert and the MEM_ bit tables.
#include "testsupport.h"

#include <cstring>
#include <vector>

TEST(SaveMemory, GuardedBlockDetectsOverrunsAtBothEnds)
{
    for (int at : {100, 101, 103, -1, -4}) {
        TSaveMemory block(100);
        EXPECT_EQ(100, block.Size());
        ASSERT_NE(nullptr, block.Start());
        EXPECT_EQ(1u, block.Check());
        std::memset(block.Start(), 0xCD, 100);
        EXPECT_EQ(1u, block.Check());
        block.Start()[at] = 0;
        EXPECT_EQ(0u, block.Check()) << at;
    }
}

TEST(SaveMemory, ZeroSizeAndDefaultReserveNothing)
{
    TSaveMemory none;
    EXPECT_EQ(nullptr, none.Start());
    EXPECT_EQ(0, none.Size());
    EXPECT_EQ(1u, none.Check());
    TSaveMemory zero(0);
    EXPECT_EQ(nullptr, zero.Start());
}

TEST(SaveMemory, DeleteGivesThePagesBackAndCreateMakesAFreshBlock)
{
    TSaveMemory block(5000);
    std::memset(block.Start(), 0x11, 5000);
    unsigned char* old = block.Start();
    block.Delete();
    EXPECT_EQ(0, block.Size());
    EXPECT_EQ(1u, block.Check());
    EXPECT_EQ(old, block.Start()); // the reservation stays
    MEMORY_BASIC_INFORMATION info{};
    ::VirtualQuery(old, &info, sizeof info);
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), info.State);

    unsigned char* fresh = block.Create(50);
    ASSERT_NE(nullptr, fresh);
    EXPECT_EQ(fresh, block.Start());
    EXPECT_EQ(50, block.Size());
    EXPECT_EQ(1u, block.Check());
    bool zero = true;
    for (int i = 0; i < 50; ++i) {
        zero &= fresh[i] == 0;
    }
    EXPECT_TRUE(zero);
}

TEST(MemSet, FillsForwardOrBackwardWithTheLowByte)
{
    unsigned char buffer[10];
    std::memset(buffer, 0x33, sizeof buffer);
    EXPECT_EQ(buffer + 2, MEM_Set(buffer + 2, 0x1FF, 3, 1));
    EXPECT_EQ((std::vector<unsigned char>{0x33, 0x33, 0xFF, 0xFF, 0xFF, 0x33}),
              std::vector<unsigned char>(buffer, buffer + 6));
    EXPECT_EQ(buffer + 2, MEM_Set(buffer + 5, 0, 3, 0));
    EXPECT_EQ((std::vector<unsigned char>{0x33, 0x33, 0, 0, 0, 0x33}),
              std::vector<unsigned char>(buffer, buffer + 6));
    // A count of 0 writes nothing in either direction.
    EXPECT_EQ(buffer + 7, MEM_Set(buffer + 7, 0, 0, 0));
    EXPECT_EQ(buffer + 7, MEM_Set(buffer + 7, 0, 0, 1));
    EXPECT_EQ(0x33, buffer[6]);
    EXPECT_EQ(0x33, buffer[7]);
}

TEST(MemCopyInvert, CopiesFrontToBackWithOrWithoutInversion)
{
    const unsigned char source[] = {0x0F, 0xF0, 0x5A};
    unsigned char dest[3] = {};
    EXPECT_EQ(dest, MEM_CopyInvert(dest, source, 2, 1));
    EXPECT_EQ(0xF0, dest[0]);
    EXPECT_EQ(0x0F, dest[1]);
    EXPECT_EQ(0x00, dest[2]);
    MEM_CopyInvert(dest, source, 3, 0);
    EXPECT_EQ(0, std::memcmp(dest, source, 3));
    MEM_CopyInvert(dest, source, 0, 1);
    EXPECT_EQ(0, std::memcmp(dest, source, 3));

    // Byte by byte from the front: a destination one byte behind the source
    // repeats the first byte.
    unsigned char overlap[5] = {1, 2, 3, 4, 5};
    MEM_CopyInvert(overlap + 1, overlap, 4, 0);
    EXPECT_EQ((std::vector<unsigned char>{1, 1, 1, 1, 1}),
              std::vector<unsigned char>(overlap, overlap + 5));
}

// Every entry of the six tables against its formula (bit i: byte b = i / 8, bit k =
// i % 8 counted from the most significant bit; 32-bit words are little-endian).
TEST(BitTables, EveryEntryFollowsItsFormula)
{
    for (unsigned k = 0; k < 8; ++k) {
        EXPECT_EQ(0x80u >> k, MEM_ByteBit[k]) << k;
        unsigned to = 0;
        for (unsigned j = 0; j <= k; ++j) {
            to |= 0x80u >> j;
        }
        EXPECT_EQ(to, MEM_ByteBitsToBitMask[k]) << k;
        EXPECT_EQ(0xFFu >> k, MEM_ByteBitsFromBitMask[k]) << k;
    }
    for (unsigned i = 0; i < 32; ++i) {
        const unsigned b = i / 8;
        const unsigned k = i % 8;
        EXPECT_EQ((0x80u >> k) << (8 * b), MEM_Bit[i]) << i;
        ULONG to = 0;
        ULONG from = 0;
        for (unsigned byte = 0; byte < 4; ++byte) {
            if (byte < b) {
                to |= 0xFFu << (8 * byte);
            } else if (byte == b) {
                to |= static_cast<ULONG>(MEM_ByteBitsToBitMask[k]) << (8 * byte);
                from |= static_cast<ULONG>(MEM_ByteBitsFromBitMask[k]) << (8 * byte);
            } else {
                from |= 0xFFu << (8 * byte);
            }
        }
        EXPECT_EQ(to, MEM_BitsToBitMask[i]) << i;
        EXPECT_EQ(from, MEM_BitsFromBitMask[i]) << i;

        // The masks select exactly the bitmap bits they name, read as a 32-bit
        // little-endian load of four bitmap bytes.
        for (unsigned bit = 0; bit < 32; ++bit) {
            unsigned char bitmap[4] = {};
            bitmap[bit / 8] = static_cast<unsigned char>(0x80u >> (bit % 8));
            const ULONG word = static_cast<ULONG>(bitmap[0]) | (ULONG{bitmap[1]} << 8) |
                               (ULONG{bitmap[2]} << 16) | (ULONG{bitmap[3]} << 24);
            EXPECT_EQ(bit == i, (word & MEM_Bit[i]) != 0);
            EXPECT_EQ(bit <= i, (word & MEM_BitsToBitMask[i]) != 0);
            EXPECT_EQ(bit >= i, (word & MEM_BitsFromBitMask[i]) != 0);
        }
    }
    // The sample values.
    EXPECT_EQ(0x8000u, MEM_Bit[8]);
    EXPECT_EQ(0x80000000u, MEM_Bit[24]);
    EXPECT_EQ(0x1000000u, MEM_Bit[31]);
    EXPECT_EQ(0x80u, MEM_BitsToBitMask[0]);
    EXPECT_EQ(0x80FFu, MEM_BitsToBitMask[8]);
    EXPECT_EQ(0xFFFFFFFFu, MEM_BitsToBitMask[31]);
    EXPECT_EQ(0xFFFFFFFFu, MEM_BitsFromBitMask[0]);
    EXPECT_EQ(0xFFFFFF7Fu, MEM_BitsFromBitMask[1]);
    EXPECT_EQ(0xFFFF7F00u, MEM_BitsFromBitMask[9]);
    EXPECT_EQ(0x1000000u, MEM_BitsFromBitMask[31]);
}
