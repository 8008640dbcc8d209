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
    return TString(className) + u"::" + shortName;
}

} // namespace

ZMCGeneralMessages::ZMCGeneralMessages()
    : TMessageBase(u"GeneralMessages", u"TOOLS", u"tools/src/messages.cpp", 66)
{}

ZMCGeneralErrors::ZMCGeneralErrors()
    : TMessageBase(u"GeneralErrors", u"TOOLS", u"tools/src/messages.cpp", 360)
{}

ZMCImageMessages::ZMCImageMessages()
    : TMessageBase(u"ImageMessages", u"TOOLS", u"tools/src/messages.cpp", 435)
{}

ZMCPrintMessages::ZMCPrintMessages()
    : TMessageBase(u"PrintMessages", u"TOOLS", u"tools/src/messages.cpp", 453)
{}

ZMCGeneralProcessMessages::ZMCGeneralProcessMessages()
    : TMessageBase(u"GeneralProcessMessages", u"TOOLS", u"tools/src/messages.cpp", 459)
{}

ZMCComDlgExtentErrors::ZMCComDlgExtentErrors()
    : TMessageBase(u"ComDlgExtentErrors", u"TOOLS", u"tools/src/messages.cpp", 477)
{}

ZMCMailErrors::ZMCMailErrors()
    : TMessageBase(u"MailErrors", u"TOOLS", u"tools/src/messages.cpp", 573)
{}

TMemFile::ZMCMemmapError::ZMCMemmapError()
    : TMessageBase(Joined(u"TMemFile", u"MemmapError"), u"TOOLS", u"tools/src/memmap.cpp", 53)
{}

ZCFlexibleMemory::ZMCFlexibleMemoryError::ZMCFlexibleMemoryError()
    : TMessageBase(Joined(u"TFlexibleMemory", u"FlexibleMemoryError"), u"TOOLS",
                   u"tools/src/flexmem.cpp", 65)
{}

ZCUnit::ZMCZanthUnits::ZMCZanthUnits()
    : TMessageBase(Joined(u"ZCUnit", u"ZanthUnits"), u"FORMAT", u"tools/src/format.cpp", 94)
{}

ZCFormat::ZMCFormatNames::ZMCFormatNames()
    : TMessageBase(Joined(u"ZCFormat", u"FormatNames"), u"FORMAT", u"tools/src/format.cpp", 264)
{}
