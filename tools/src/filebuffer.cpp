// TFileReadBuffer and TFileWriteBuffer: the reader and writer bound to a TFile that
// the caller owns.
#include "iobufferimpl.h"

#include <corewu/errors.h>
#include <zanth/iobuffer.h>

namespace {

// A buffer without a file would fail at its first request; say so at once.
void RequireFile(const TFile* file, const WCHAR* className)
{
    if (file == nullptr) {
        ThrowNewError(0, 0, TString::Formatted(TEXT("%s: the file pointer is null."), className),
                      TString::NullString, TString::NullString, nullptr);
    }
}

} // namespace

// --- TFileReadBuffer ---------------------------------------------------------------

TFileReadBuffer::TFileReadBuffer(LONG size, TFile* file, LONG offset, LONG)
    : TReadBuffer(size), m_pFile(file)
{
    ZANTH::detail::ConstructOrCleanUp(
        [&] {
            RequireFile(file, TEXT("TFileReadBuffer"));
            m_pFile->Seek(offset, FILE_CURRENT);
        },
        [this] { Destructor(); });
}

TFileReadBuffer::~TFileReadBuffer() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void TFileReadBuffer::Destructor()
{
    // The file is the caller's; nothing is buffered that must go anywhere.
}

LONG TFileReadBuffer::ReadData(unsigned char* dest, LONG n)
{
    return static_cast<LONG>(m_pFile->Read(dest, static_cast<DWORD>(n)));
}

// --- TFileWriteBuffer --------------------------------------------------------------

TFileWriteBuffer::TFileWriteBuffer(LONG size, TFile* file, LONG offset)
    : TWriteBuffer(size), m_pFile(file)
{
    ZANTH::detail::ConstructOrCleanUp(
        [&] {
            RequireFile(file, TEXT("TFileWriteBuffer"));
            m_pFile->Seek(offset, FILE_CURRENT);
        },
        [this] { Destructor(); });
}

TFileWriteBuffer::~TFileWriteBuffer() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void TFileWriteBuffer::Destructor()
{
    // The pending bytes go to the file while the file link is still there. They are
    // taken out of the buffer first: if the file refuses them, its error says so, and
    // the base class does not report the same bytes a second time.
    const LONG pending = static_cast<LONG>(m_pCurrent - BufferStart());
    if (pending > 0) {
        m_pCurrent = BufferStart();
        m_Size = 0;
        m_pFile->Write(BufferStart(), static_cast<DWORD>(pending));
    }
}

void TFileWriteBuffer::WriteData(unsigned char* src, LONG n)
{
    // A full disk can take part of the bytes before it refuses the rest. Those that
    // reached the file leave the buffer, so that a retry after space was freed
    // writes each byte once, where it belongs, instead of writing them again behind
    // themselves.
    DWORD written = 0;
    try {
        m_pFile->Write(src, static_cast<DWORD>(n), written);
    } catch (const TException&) {
        if (src == BufferStart()) {
            Delivered(static_cast<LONG>(written));
        }
        throw;
    }
}

void TFileWriteBuffer::Seek(LONG offset, ULONG mode)
{
    Finish();
    m_pFile->Seek(offset, mode);
}

void TFileWriteBuffer::End()
{
    Finish();
    m_pFile->End();
}

ULONG TFileWriteBuffer::Position()
{
    Seek(0, FILE_CURRENT);
    const ULONGLONG position = m_pFile->Position();
    if (position > 0xFFFFFFFFull) {
        // The position does not fit the 32-bit result; a cut-off value would point
        // somewhere else in the file.
        ThrowNewError(CoreErrors(), 2, TEXT("TFileWriteBuffer::Position"), TString::NullString,
                      TString::NullString, nullptr);
    }
    return static_cast<ULONG>(position);
}
