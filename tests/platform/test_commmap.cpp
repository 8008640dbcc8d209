// The DCB <-> termios translation of the serial ports, checked without a device:
// the data bits and parity that a pseudo-terminal cannot hold are seen here.
#include "../../platform/src/commmap.h"

#include <gtest/gtest.h>

namespace {

using namespace zanth::platform::commmap;

DCB Dcb(DWORD baud, BYTE bits, BYTE parity, BYTE stop)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baud;
    dcb.ByteSize = bits;
    dcb.Parity = parity;
    dcb.fParity = parity != NOPARITY;
    dcb.StopBits = stop;
    dcb.fBinary = 1;
    return dcb;
}

struct Case
{
    DWORD baud;
    BYTE bits;
    BYTE parity;
    BYTE stop;
    unsigned size;  // CSx
    unsigned flags; // PARENB | PARODD | CMSPAR | CSTOPB expected
    unsigned speed; // Bxxx or BOTHER
};

TEST(CommMap, EveryDcbValueHasItsTermiosBitsAndComesBack)
{
    const Case cases[] = {
        {9600, 8, NOPARITY, ONESTOPBIT, CS8, 0, B9600},
        {115200, 7, EVENPARITY, ONESTOPBIT, CS7, PARENB, B115200},
        {2400, 6, ODDPARITY, TWOSTOPBITS, CS6, PARENB | PARODD | CSTOPB, B2400},
        {300, 5, MARKPARITY, ONE5STOPBITS, CS5, PARENB | PARODD | CMSPAR | CSTOPB, B300},
        {250000, 8, SPACEPARITY, TWOSTOPBITS, CS8, PARENB | CMSPAR | CSTOPB, BOTHER},
        {12345, 5, NOPARITY, ONESTOPBIT, CS5, 0, BOTHER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        termios2 t{};
        t.c_lflag = ICANON | ECHO | ISIG;
        t.c_iflag = ICRNL | IXON;
        t.c_oflag = OPOST;
        const DCB dcb = Dcb(c.baud, c.bits, c.parity, c.stop);
        ASSERT_TRUE(DcbToTermios(dcb, t));
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB), c.flags);
        EXPECT_EQ(t.c_cflag & CBAUD, c.speed);
        EXPECT_EQ(t.c_ospeed, c.baud);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parity != NOPARITY); // even parity is checked too
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_NE(t.c_cflag & CREAD, 0u);

        DCB back{};
        TermiosToDcb(t, back);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, c.bits);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
        EXPECT_EQ(back.fParity, dcb.fParity);
    }
}

TEST(CommMap, ImpossibleValuesLeaveTheSettingsAlone)
{
    const DCB bad[] = {
        Dcb(0, 8, NOPARITY, ONESTOPBIT),     Dcb(9600, 4, NOPARITY, ONESTOPBIT),
        Dcb(9600, 9, NOPARITY, ONESTOPBIT),  Dcb(9600, 8, 5, ONESTOPBIT),
        Dcb(9600, 8, NOPARITY, 3),           Dcb(9600, 8, NOPARITY, ONE5STOPBITS),
        Dcb(9600, 5, NOPARITY, TWOSTOPBITS),
    };
    for (const DCB& dcb : bad) {
        termios2 t{};
        t.c_cflag = CS7 | B1200;
        EXPECT_FALSE(DcbToTermios(dcb, t));
        EXPECT_EQ(t.c_cflag, static_cast<unsigned>(CS7 | B1200));
    }
}

TEST(CommMap, FlowControlBits)
{
    DCB dcb = Dcb(9600, 8, NOPARITY, ONESTOPBIT);
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    termios2 t{};
    ASSERT_TRUE(DcbToTermios(dcb, t));
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<unsigned>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    dcb.fOutxCtsFlow = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    ASSERT_TRUE(DcbToTermios(dcb, t));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

} // namespace
