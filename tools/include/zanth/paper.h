// ZCFormat: the table of standard paper formats and the inside, outside and
// closest searches over a caller's list of formats.
#ifndef ZANTH_PAPER_H
#define ZANTH_PAPER_H

#include <zanth/config.h>

class ZANTH_TOOLS_API ZCFormat
{
public:
    // The format-name catalog ("ZCFormat::FormatNames").
    class ZANTH_TOOLS_API ZMCFormatNames : public TMessageBase
    {
    public:
        ZMCFormatNames();
        ZMCFormatNames& operator=(const ZMCFormatNames& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

    static ZMCFormatNames FormatNames;
};

#endif // ZANTH_PAPER_H
