// ZCFlexibleMemory: a reserved address range with one committed window that grows,
// shrinks and slides without moving, guarded by check words at both ends.
#ifndef ZANTH_FLEXMEM_H
#define ZANTH_FLEXMEM_H

#include <zanth/config.h>

class ZANTH_TOOLS_API ZCFlexibleMemory
{
public:
    // The error catalog of the class ("TFlexibleMemory::FlexibleMemoryError").
    class ZANTH_TOOLS_API ZMCFlexibleMemoryError : public TMessageBase
    {
    public:
        ZMCFlexibleMemoryError();
        ZMCFlexibleMemoryError& operator=(const ZMCFlexibleMemoryError& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

private:
    static ZMCFlexibleMemoryError FlexibleMemoryError;
};

#endif // ZANTH_FLEXMEM_H
