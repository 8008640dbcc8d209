// The catalog classes: each registers its catalog name, module, declaring source
// and line with the base library, which assigns the catalog number.
#include <zanth/flexmem.h>
#include <zanth/memmap.h>
#include <zanth/messages.h>
#include <zanth/paper.h>
#include <zanth/units.h>

namespace {

// The nested catalogs' names are joined from the class name, "::" and the short
// name, as the classes have always registered them.
TString Joined(const WCHAR* className, const WCHAR* shortName)
{
    return TString(className) + TEXT("::") + shortName;
}

} // namespace

ZMCGeneralMessages::ZMCGeneralMessages()
    : TMessageBase(TEXT("GeneralMessages"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"), 66)
{}

ZMCGeneralErrors::ZMCGeneralErrors()
    : TMessageBase(TEXT("GeneralErrors"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"), 360)
{}

ZMCImageMessages::ZMCImageMessages()
    : TMessageBase(TEXT("ImageMessages"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"), 435)
{}

ZMCPrintMessages::ZMCPrintMessages()
    : TMessageBase(TEXT("PrintMessages"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"), 453)
{}

ZMCGeneralProcessMessages::ZMCGeneralProcessMessages()
    : TMessageBase(TEXT("GeneralProcessMessages"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"),
                   459)
{}

ZMCComDlgExtentErrors::ZMCComDlgExtentErrors()
    : TMessageBase(TEXT("ComDlgExtentErrors"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"), 477)
{}

ZMCMailErrors::ZMCMailErrors()
    : TMessageBase(TEXT("MailErrors"), TEXT("TOOLS"), TEXT("tools/src/messages.cpp"), 573)
{}

TMemFile::ZMCMemmapError::ZMCMemmapError()
    : TMessageBase(Joined(TEXT("TMemFile"), TEXT("MemmapError")), TEXT("TOOLS"),
                   TEXT("tools/src/memmap.cpp"), 53)
{}

ZCFlexibleMemory::ZMCFlexibleMemoryError::ZMCFlexibleMemoryError()
    : TMessageBase(Joined(TEXT("TFlexibleMemory"), TEXT("FlexibleMemoryError")), TEXT("TOOLS"),
                   TEXT("tools/src/flexmem.cpp"), 65)
{}

ZCUnit::ZMCZanthUnits::ZMCZanthUnits()
    : TMessageBase(Joined(TEXT("ZCUnit"), TEXT("ZanthUnits")), TEXT("FORMAT"),
                   TEXT("tools/src/format.cpp"), 94)
{}

ZCFormat::ZMCFormatNames::ZMCFormatNames()
    : TMessageBase(Joined(TEXT("ZCFormat"), TEXT("FormatNames")), TEXT("FORMAT"),
                   TEXT("tools/src/format.cpp"), 264)
{}
