// Every library-wide object of the tools library, defined in this one translation
// unit in its fixed order: the run time builds them in this order when the library
// is loaded and destroys them in exactly the reverse order when it is unloaded.
// After the last object comes the attach work (new-handler, module record).
//
// Each row is followed by a marker that records "+row" when built and "-row" when
// destroyed in the lifecycle trace (a no-op unless a test switches the trace on).
#include "catalogs.h"

#include <corewu/lifecycle.h>
#include <corewu/module.h>
#include <zanth/datetime.h>
#include <zanth/flexmem.h>
#include <zanth/frame.h>
#include <zanth/memcheck.h>
#include <zanth/memmap.h>
#include <zanth/messages.h>
#include <zanth/paper.h>
#include <zanth/progress.h>
#include <zanth/units.h>

#include <new>

namespace {

class RowMark
{
public:
    explicit RowMark(const char* row) : m_Row(row) { Record('+'); }
    ~RowMark() { Record('-'); }
    RowMark(const RowMark&) = delete;
    RowMark& operator=(const RowMark&) = delete;

private:
    void Record(char sign) const
    {
        if (TLifecycleTrace::Enabled()) {
            TLifecycleTrace::Record((std::string(1, sign) + m_Row).c_str());
        }
    }
    const char* m_Row;
};

#define ZANTH_ROW(tag, label) RowMark g_RowMark_##tag(label)

// "<process id>_<computer name>_CONTROL_HANDLER_EVENT" (computer name buffer of 250).
TString ControlHandlerEventName()
{
    WCHAR computer[250] = {};
    DWORD size = 250;
    if (!::GetComputerNameW(computer, &size)) {
        computer[0] = 0;
    }
    return TString::Formatted(TEXT("%d_%s_CONTROL_HANDLER_EVENT"),
                              static_cast<int>(::GetCurrentProcessId()), computer);
}

} // namespace

// 1: the mail catalog.
TMessageBase ZANTH::detail::g_MailCatalog(TEXT("TZanthMailCode::msg"), TEXT("tools"),
                                          TEXT("tools/src/IZanthMail.cpp"), 131);
ZANTH_ROW(1, "1");

// 2: the memory-mapped file catalog.
TMemFile::ZMCMemmapError TMemFile::MemmapError;
ZANTH_ROW(2, "2");

// 3: the thread catalog.
TMessageBase ZANTH::detail::g_MsgThreadCatalog(TEXT("MsgThread"), TEXT("Msg"),
                                               TEXT("tools/src/thread.cpp"), 108);
ZANTH_ROW(3, "3");

// 4: the code generator catalog.
TMessageBase ZANTH::detail::g_CodeGeneratorCatalog(TEXT("ZCZCCodeGeneratorMSG"), TEXT("tools"),
                                                   TEXT("tools/src/codegenerator.cpp"), 71);
ZANTH_ROW(4, "4");

// 5: the console stop event: manual reset, not set; closed at unload.
ZANTH::ZCEvent g_theControlHandlerStopEvent(1, 0, ControlHandlerEventName());
ZANTH_ROW(5, "5");

// 6-15: the date masks (date family); TIMEMASK_STANDARD is a copy of TIMEMASK_T8,
// which is why it comes after it.
const TString ZCDateTime::DATEMASK_GERMAN(TEXT("%d.%m.%Y"));
const TString ZCDateTime::DATEMASK_ENGLISH(TEXT("%d\\%m\\%Y"));
const TString ZCDateTime::DATEMASK_AMERICAN(TEXT("%m\\%d\\%Y"));
const TString ZCDateTime::DATEMASK_SQL(TEXT("%Y-%m-%d"));
const TString ZCDateTime::DATEMASK_SORT(TEXT("%Y%m%d"));
const TString ZCDateTime::DATEMASK_D10(TEXT("%d.%m.%Y"));
const TString ZCDateTime::DATEMASK_D8(TEXT("%d.%m.%y"));
const TString ZCDateTime::TIMEMASK_T8(TEXT("%H:%M:%S"));
const TString ZCDateTime::TIMEMASK_T5(TEXT("%H:%M"));
const TString ZCDateTime::TIMEMASK_STANDARD(ZCDateTime::TIMEMASK_T8);
ZANTH_ROW(6_15, "6-15");

// 16-19: the month and weekday catalogs.
TMessageBase ZANTH::detail::g_ShortMonthCatalog(TEXT("ShortMonth"), TEXT("tools"),
                                                TEXT("tools/src/datetime.cpp"), 60);
TMessageBase ZANTH::detail::g_LongMonthCatalog(TEXT("LongMonth"), TEXT("tools"),
                                               TEXT("tools/src/datetime.cpp"), 99);
TMessageBase ZANTH::detail::g_ShortWeekDayCatalog(TEXT("ShortWeekDay"), TEXT("tools"),
                                                  TEXT("tools/src/datetime.cpp"), 138);
TMessageBase ZANTH::detail::g_LongWeekDayCatalog(TEXT("LongWeekDay"), TEXT("tools"),
                                                 TEXT("tools/src/datetime.cpp"), 162);
ZANTH_ROW(16_19, "16-19");

// 20: the flexible-memory catalog.
ZCFlexibleMemory::ZMCFlexibleMemoryError ZCFlexibleMemory::FlexibleMemoryError;
ZANTH_ROW(20, "20");

// 21-24: the leak checker's list, report path, report file name and checker. The
// list deletes what is left in it at unload (TList::DeleteAll).
TList TMemoryCheck::s_ElementList;
TString TMemoryCheck::s_ReportPath;
TString TMemoryCheck::s_ReportName(TEXT("memory.txt"));
TMemoryCheck TMemoryCheck::s_MemoryChecker;
ZANTH_ROW(21_24, "21-24");

// 25: half a Zanth unit in millimetres. A constant initialiser, so the value is
// in place before any object of this library is built, TheFormat's table included.
constinit const double ZCUnit::EinHalbZanthInMm = ZCUnit::EinZanthInMm * 0.5;
ZANTH_ROW(25, "25");

// 26: the library-wide unit object (default unit 1, no clean-up).
ZCUnit TheUnits(1);
ZANTH_ROW(26, "26");

// 27: the library-wide paper format table, computed with row 25.
ZCFormat TheFormat;
ZANTH_ROW(27, "27");

// 28-29: the unit-name and format-name catalogs.
ZCUnit::ZMCZanthUnits ZCUnit::ZanthUnits;
ZCFormat::ZMCFormatNames ZCFormat::FormatNames;
ZANTH_ROW(28_29, "28-29");

// 30-36: the exported catalogs, in table order.
ZMCGeneralMessages GeneralMessages;
ZMCGeneralErrors GeneralErrors;
ZMCImageMessages ImageMessages;
ZMCPrintMessages PrintMessages;
ZMCGeneralProcessMessages GeneralProcessMessages;
ZMCComDlgExtentErrors ComDlgExtentErrors;
ZMCMailErrors MailErrors;
ZANTH_ROW(30_36, "30-36");

// 37: the progress view's thread-local slot, taken here and given back at unload.
TTlsSlot<TProgressView*> TProgressView::s_pProgressView;
ZANTH_ROW(37, "37");

// 38: the serial port catalog.
TMessageBase ZANTH::detail::g_SerialComCatalog(TEXT("ZCSerialComMSG"), TEXT("tools"),
                                               TEXT("tools/src/serialcom.cpp"), 152);
ZANTH_ROW(38, "38");

// 39: the single-instance catalog.
TMessageBase ZANTH::detail::g_SingleInstanceCatalog(TEXT("ZCSingleInstance_msg"), TEXT("tools"),
                                                    TEXT("tools/src/singleinstance.cpp"), 38);
ZANTH_ROW(39, "39");

// The attach work, after every library-wide object.
namespace {

struct Attach
{
    Attach()
    {
        // 1. The base library's new-handler. (The run time's "new mode", which makes
        //    malloc call it too, has no counterpart here.)
        std::set_new_handler(zanth_new_handler);
        // 2. The structured-exception translator (a no-op on this platform).
        zanth_exception_transformation();
        // 3. The module record with the library's own path.
        HMODULE self = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(&ControlHandlerEventName), &self);
        WCHAR path[260] = {};
        if (self) {
            ::GetModuleFileNameW(self, path, 260);
        }
        TModuleRecord record;
        record.module = self;
        record.value = -1;
        record.path = path;
        g_pTheModuleList->Append(record);
        TLifecycleTrace::Record("attach");
    }
} g_Attach;

} // namespace
