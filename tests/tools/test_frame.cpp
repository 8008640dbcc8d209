// The library frame: catalogs and their order, load and unload, the module
// record, the message box, common-dialog error texts, allocation, the console
// stop event.
#include "testsupport.h"

#include <zanth/win32/cderr.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <sstream>

namespace {

std::vector<std::string> LinesStartingWith(const std::string& output, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

} // namespace

TEST(Frame, LoadBuildsCatalogsInTableOrderAndUnloadRunsInReverse)
{
    const auto child = testsupport::RunChild({testsupport::HelperPath("child_load_frame")});
    ASSERT_EQ(child.status, 0) << child.output;

    // Every catalog, with its exact name, module, declaring source and line, in the
    // order of the library's table.
    const std::vector<std::string> expected = {
        "TZanthMailCode::msg|tools|tools/src/IZanthMail.cpp|131",
        "TMemFile::MemmapError|TOOLS|tools/src/memmap.cpp|53",
        "MsgThread|Msg|tools/src/thread.cpp|108",
        "ZCZCCodeGeneratorMSG|tools|tools/src/codegenerator.cpp|71",
        "ShortMonth|tools|tools/src/datetime.cpp|60",
        "LongMonth|tools|tools/src/datetime.cpp|99",
        "ShortWeekDay|tools|tools/src/datetime.cpp|138",
        "LongWeekDay|tools|tools/src/datetime.cpp|162",
        "TFlexibleMemory::FlexibleMemoryError|TOOLS|tools/src/flexmem.cpp|65",
        "ZCUnit::ZanthUnits|FORMAT|tools/src/format.cpp|94",
        "ZCFormat::FormatNames|FORMAT|tools/src/format.cpp|264",
        "GeneralMessages|TOOLS|tools/src/messages.cpp|66",
        "GeneralErrors|TOOLS|tools/src/messages.cpp|360",
        "ImageMessages|TOOLS|tools/src/messages.cpp|435",
        "PrintMessages|TOOLS|tools/src/messages.cpp|453",
        "GeneralProcessMessages|TOOLS|tools/src/messages.cpp|459",
        "ComDlgExtentErrors|TOOLS|tools/src/messages.cpp|477",
        "MailErrors|TOOLS|tools/src/messages.cpp|573",
        "ZCSerialComMSG|tools|tools/src/serialcom.cpp|152",
        "ZCSingleInstance_msg|tools|tools/src/singleinstance.cpp|38",
    };
    std::vector<std::string> catalogs;
    for (const std::string& line : LinesStartingWith(child.output, "catalog ")) {
        catalogs.push_back(line.substr(line.find(' ') + 1));
    }
    EXPECT_EQ(catalogs, expected);

    const auto modules = LinesStartingWith(child.output, "module ");
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].rfind("-1 /", 0), 0u) << modules[0];
    EXPECT_NE(modules[0].find("libzanthtools.so"), std::string::npos);

    // Rows are built in ascending order, then the attach work runs; unloading
    // destroys the rows in exactly the reverse order.
    const auto steps = LinesStartingWith(child.output, "step ");
    std::vector<std::string> built, destroyed;
    bool attached = false;
    for (const std::string& step : steps) {
        if (step == "attach") {
            attached = true;
            EXPECT_TRUE(destroyed.empty());
        } else if (step[0] == '+') {
            EXPECT_FALSE(attached) << "a row was built after the attach work";
            built.push_back(step.substr(1));
        } else {
            destroyed.push_back(step.substr(1));
        }
    }
    EXPECT_TRUE(attached);
    const std::vector<std::string> rows = {"1",     "2",     "3",     "4",  "5",  "6-15",
                                           "16-19", "20",    "21-24", "25", "26", "27",
                                           "28-29", "30-36", "37",    "38", "39"};
    EXPECT_EQ(built, rows);
    std::vector<std::string> reversed(built.rbegin(), built.rend());
    EXPECT_EQ(destroyed, reversed);
}

TEST(Frame, AttachInstalledTheNewHandlerAndTheModuleRecord)
{
    EXPECT_EQ(std::get_new_handler(), &zanth_new_handler);
    bool found = false;
    for (std::size_t i = 0; i < g_pTheModuleList->Count(); ++i) {
        const TModuleRecord record = g_pTheModuleList->At(i);
        if (record.path.AsAnsi().find("libzanthtools.so") != std::string::npos) {
            found = true;
            EXPECT_EQ(record.value, -1);
            EXPECT_NE(record.module, nullptr);
        }
    }
    EXPECT_TRUE(found);
}

TEST(Frame, CommonDialogErrorTexts)
{
    struct Case
    {
        int code;
        WORD message;
    };
    const Case cases[] = {
        {CDERR_DIALOGFAILURE, 0},     {CDERR_STRUCTSIZE, 12},      {CDERR_INITIALIZATION, 2},
        {CDERR_NOTEMPLATE, 10},       {CDERR_NOHINSTANCE, 8},      {CDERR_LOADSTRFAILURE, 4},
        {CDERR_FINDRESFAILURE, 1},    {CDERR_LOADRESFAILURE, 3},   {CDERR_LOCKRESFAILURE, 5},
        {CDERR_MEMALLOCFAILURE, 6},   {CDERR_MEMLOCKFAILURE, 7},   {CDERR_NOHOOK, 9},
        {CDERR_REGISTERMSGFAIL, 11},  {PDERR_SETUPFAILURE, 24},    {PDERR_PARSEFAILURE, 21},
        {PDERR_RETDEFFAILURE, 23},    {PDERR_LOADDRVFAILURE, 18},  {PDERR_GETDEVMODEFAIL, 16},
        {PDERR_INITFAILURE, 17},      {PDERR_NODEVICES, 20},       {PDERR_NODEFAULTPRN, 19},
        {PDERR_DNDMMISMATCH, 15},     {PDERR_CREATEICFAILURE, 13}, {PDERR_PRINTERNOTFOUND, 22},
        {PDERR_DEFAULTDIFFERENT, 14}, {CFERR_NOFONTS, 26},         {CFERR_MAXLESSTHANMIN, 25},
        {FNERR_SUBCLASSFAILURE, 29},  {FNERR_INVALIDFILENAME, 28}, {FNERR_BUFFERTOOSMALL, 27},
        {FRERR_BUFFERLENGTHZERO, 30},
    };
    std::set<std::string> texts;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_TRUE(HasMessageText(ComDlgExtentErrors, c.message));
        const TString text = GetCommonDlgErrorText(c.code);
        EXPECT_EQ(text, GetMessageW(ComDlgExtentErrors, c.message, TString::NullString,
                                    TString::NullString, TString::NullString));
        texts.insert(text.AsAnsi());
    }
    EXPECT_EQ(texts.size(), std::size(cases)); // 31 different messages
    for (int code : {0, 0x000D, 0x1000, 0x2003, 0x4002, -1, 0x10000}) {
        EXPECT_TRUE(GetCommonDlgErrorText(code).IsEmpty()) << code;
    }
}

TEST(Frame, MessageBoxInvokesCallbackThreeFirstAndRestoresTheForeground)
{
    std::vector<std::string> events;
    auto callback = [](DWORD id, void* data, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(
            "callback " + std::to_string(id) + (data ? " data" : " null"));
    };
    g_ptheMessageQueue->Add(callback, &events);
    HWND mine = reinterpret_cast<HWND>(0x100);
    HWND box = reinterpret_cast<HWND>(0x200);
    ::SetForegroundWindow(mine);
    testsupport::MessageBoxScript script([&](const testsupport::MessageBoxScript::Shown&) {
        events.push_back("box");
        ::SetForegroundWindow(box); // the box takes the foreground
        return IDRETRY;
    });
    struct Case
    {
        UINT type;
        UINT shown;
    };
    const Case cases[] = {
        {MB_OK, MB_OK | MB_TOPMOST | MB_TASKMODAL},
        {MB_RETRYCANCEL | MB_TOPMOST, MB_RETRYCANCEL | MB_TOPMOST | MB_TASKMODAL},
        {MB_YESNO | MB_SYSTEMMODAL | MB_ICONERROR,
         MB_YESNO | MB_SYSTEMMODAL | MB_ICONERROR | MB_TOPMOST | MB_TASKMODAL},
    };
    for (const Case& c : cases) {
        events.clear();
        EXPECT_EQ(ZanthMessageBox(TEXT("text"), TEXT("caption"), c.type), IDRETRY);
        EXPECT_EQ(events, (std::vector<std::string>{"callback 3 null", "box"}));
        EXPECT_EQ(script.Boxes().back().type, c.shown);
        EXPECT_EQ(::GetForegroundWindow(), mine);
    }
    EXPECT_EQ(ZanthMessageBox(reinterpret_cast<void*>(0x300), TEXT("t"), TEXT("c"), MB_OK),
              IDRETRY);
    EXPECT_EQ(script.Boxes().back().text, "t");
    g_ptheMessageQueue->Remove(callback, &events);
}

TEST(Frame, ToolsAllocationAndFree)
{
    void* block = ZANTH::_ToolsMalloc(100);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 100);
    ZANTH::_ToolsFree(block);
    ZANTH::_ToolsFree(nullptr);
}

TEST(Frame, ConsoleStopEventIsNamedAfterProcessAndComputer)
{
    WCHAR computer[250];
    DWORD size = 250;
    ASSERT_TRUE(::GetComputerNameW(computer, &size));
    const TString name = TString::Formatted(TEXT("%d_%s_CONTROL_HANDLER_EVENT"),
                                            static_cast<int>(::GetCurrentProcessId()), computer);
    HANDLE same = ::CreateEventW(nullptr, TRUE, FALSE, name);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(g_theControlHandlerStopEvent.IsAutoReset());
    EXPECT_FALSE(g_theControlHandlerStopEvent.IsSet());
    ::SetEvent(same);
    EXPECT_TRUE(g_theControlHandlerStopEvent.Wait(0));
    ::ResetEvent(same);
    ::CloseHandle(same);
}

TEST(Frame, EachProcessHasItsOwnConsoleStopEvent)
{
    // Two processes loading the library on the same computer: the name holds the
    // process id, so setting one process's event leaves the other's alone.
    for (int run = 0; run < 2; ++run) {
        const auto child = testsupport::RunChild({testsupport::HelperPath("child_stop_event")});
        ASSERT_EQ(child.status, 0);
        unsigned pid = 0, wasSet = 1;
        ASSERT_EQ(std::sscanf(child.output.c_str(), "%u %u", &pid, &wasSet), 2);
        EXPECT_NE(pid, ::GetCurrentProcessId());
        EXPECT_EQ(wasSet, 0u);
    }
    EXPECT_FALSE(g_theControlHandlerStopEvent.Wait(0));
}
