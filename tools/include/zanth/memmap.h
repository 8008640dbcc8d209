// TMemFile: a whole file mapped into memory for reading or for writing.
#ifndef ZANTH_MEMMAP_H
#define ZANTH_MEMMAP_H

#include <zanth/config.h>

class ZANTH_TOOLS_API TMemFile
{
public:
    // The error catalog of the class ("TMemFile::MemmapError").
    class ZANTH_TOOLS_API ZMCMemmapError : public TMessageBase
    {
    public:
        ZMCMemmapError();
        ZMCMemmapError& operator=(const ZMCMemmapError& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

protected:
    static ZMCMemmapError MemmapError;
};

#endif // ZANTH_MEMMAP_H
