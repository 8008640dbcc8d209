// Unit conversion between Zanth units (1/4800 inch) and pixels, millimetres,
// inches, twips, picas and tenths of a millimetre; TWAIN unit maps.
#ifndef ZANTH_UNITS_H
#define ZANTH_UNITS_H

#include <zanth/config.h>

class ZANTH_TOOLS_API ZCUnit
{
public:
    // The unit-name catalog ("ZCUnit::ZanthUnits"): messages 0-2 name pixel,
    // millimetre and inch.
    class ZANTH_TOOLS_API ZMCZanthUnits : public TMessageBase
    {
    public:
        ZMCZanthUnits();
        ZMCZanthUnits& operator=(const ZMCZanthUnits& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

    static ZMCZanthUnits ZanthUnits;
};

#endif // ZANTH_UNITS_H
