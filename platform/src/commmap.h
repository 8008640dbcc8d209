// The translation between a DCB and the kernel's terminal settings (struct
// termios2, which carries any speed). Kept apart from the rest of the serial code
// because <asm/termbits.h> and the C library's <termios.h> cannot meet in one file;
// the tests include it to check the translation without a device.
#ifndef ZANTH_PLATFORM_COMMMAP_H
#define ZANTH_PLATFORM_COMMMAP_H

#include <zanth/win32/windows.h>

#include <asm/termbits.h>

namespace zanth::platform::commmap {

struct SpeedCode
{
    DWORD speed;
    unsigned code;
};

// The speeds that have a Bxxx code of their own; any other speed travels as BOTHER.
inline constexpr SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

inline unsigned CodeOfSpeed(DWORD speed)
{
    for (const SpeedCode& entry : kSpeeds) {
        if (entry.speed == speed) {
            return entry.code;
        }
    }
    return BOTHER;
}

inline DWORD OutputSpeed(const termios2& t)
{
    const unsigned code = t.c_cflag & CBAUD;
    if (code == BOTHER) {
        return t.c_ospeed;
    }
    for (const SpeedCode& entry : kSpeeds) {
        if (entry.code == code) {
            return entry.speed;
        }
    }
    return 0;
}

// Applies a DCB to terminal settings: raw bytes in both directions, the speed
// (input and output alike), data bits 5-8, parity, stop bits and flow control.
// Returns false for a value the terminal cannot carry (speed 0, data bits outside
// 5-8, an unknown parity or stop-bit code, 1.5 stop bits with more than 5 data
// bits or 2 with 5, as Windows refuses them); `t` is then unchanged.
inline bool DcbToTermios(const DCB& dcb, termios2& t)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        return false;
    }
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
        (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5)) {
        return false;
    }
    termios2 r = t;
    r.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | IGNPAR | INPCK | IUCLC | IMAXBEL);
    r.c_oflag &= ~OPOST;
    r.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK | ECHOCTL | ECHOKE);
    r.c_cflag &=
        ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    r.c_cflag |= CREAD | CLOCAL;

    const unsigned code = CodeOfSpeed(dcb.BaudRate);
    r.c_cflag |= code | (code << IBSHIFT);
    r.c_ispeed = dcb.BaudRate;
    r.c_ospeed = dcb.BaudRate;

    static constexpr unsigned kSizes[] = {CS5, CS6, CS7, CS8};
    r.c_cflag |= kSizes[dcb.ByteSize - 5];

    switch (dcb.Parity) {
    case ODDPARITY:
        r.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        r.c_cflag |= PARENB;
        break;
    case MARKPARITY:
        r.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case SPACEPARITY:
        r.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // A byte with a parity error reaches the reader as 0 when checking is on.
    if (dcb.fParity && dcb.Parity != NOPARITY) {
        r.c_iflag |= INPCK;
    }
    if (dcb.StopBits != ONESTOPBIT) {
        r.c_cflag |= CSTOPB; // 1.5 with 5 data bits, 2 otherwise
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        r.c_cflag |= CRTSCTS;
    }
    if (dcb.fOutX) {
        r.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        r.c_iflag |= IXOFF;
    }
    if (dcb.fOutX || dcb.fInX) {
        r.c_cc[VSTART] = static_cast<unsigned char>(dcb.XonChar ? dcb.XonChar : 0x11);
        r.c_cc[VSTOP] = static_cast<unsigned char>(dcb.XoffChar ? dcb.XoffChar : 0x13);
    }
    // Every read returns what is there: the overlapped engine waits for readiness.
    r.c_cc[VMIN] = 1;
    r.c_cc[VTIME] = 0;
    t = r;
    return true;
}

// The DCB fields that terminal settings determine: speed, data bits, parity and
// its checking, stop bits, CTS flow and XON/XOFF. fBinary is always 1.
inline void TermiosToDcb(const termios2& t, DCB& dcb)
{
    dcb.fBinary = 1;
    dcb.BaudRate = OutputSpeed(t);
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB)) {
        dcb.Parity = NOPARITY;
    } else if (t.c_cflag & CMSPAR) {
        dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    } else {
        dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    }
    dcb.fParity = (t.c_iflag & INPCK) && dcb.Parity != NOPARITY ? 1 : 0;
    if (!(t.c_cflag & CSTOPB)) {
        dcb.StopBits = ONESTOPBIT;
    } else {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    if (dcb.fOutX || dcb.fInX) {
        dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
        dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    }
}

} // namespace zanth::platform::commmap

#endif // ZANTH_PLATFORM_COMMMAP_H
