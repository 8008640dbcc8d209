// The exported message catalogs of the tools library. Each catalog is a value
// holding its 16-bit catalog number; the texts live in the message store.
#ifndef ZANTH_MESSAGES_H
#define ZANTH_MESSAGES_H

#include <corewu/messages.h>
#include <zanth/config.h>

#define ZANTH_DECLARE_CATALOG(ClassName)                                                           \
    class ZANTH_TOOLS_API ClassName : public TMessageBase                                          \
    {                                                                                              \
    public:                                                                                        \
        ClassName();                                                                               \
        ClassName& operator=(const ClassName& other)                                               \
        {                                                                                          \
            TMessageBase::operator=(other);                                                        \
            return *this;                                                                          \
        }                                                                                          \
    }

ZANTH_DECLARE_CATALOG(ZMCGeneralMessages);
ZANTH_DECLARE_CATALOG(ZMCGeneralErrors);
ZANTH_DECLARE_CATALOG(ZMCImageMessages);
ZANTH_DECLARE_CATALOG(ZMCPrintMessages);
ZANTH_DECLARE_CATALOG(ZMCGeneralProcessMessages);
ZANTH_DECLARE_CATALOG(ZMCComDlgExtentErrors);
ZANTH_DECLARE_CATALOG(ZMCMailErrors);

extern ZANTH_TOOLS_API ZMCGeneralMessages GeneralMessages;
extern ZANTH_TOOLS_API ZMCGeneralErrors GeneralErrors;
extern ZANTH_TOOLS_API ZMCImageMessages ImageMessages;
extern ZANTH_TOOLS_API ZMCPrintMessages PrintMessages;
extern ZANTH_TOOLS_API ZMCGeneralProcessMessages GeneralProcessMessages;
extern ZANTH_TOOLS_API ZMCComDlgExtentErrors ComDlgExtentErrors;
extern ZANTH_TOOLS_API ZMCMailErrors MailErrors;

#endif // ZANTH_MESSAGES_H
