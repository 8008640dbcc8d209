// The error stack, TException, the destructor rule, catalogs and message texts.
#include "testsupport.h"

#include <stdexcept>

using testsupport::CatchError;

namespace {

const TMessageBase& TestCatalog()
{
    static const TMessageBase catalog(TEXT("TestCatalog"), TEXT("TESTS"),
                                      TEXT("tests/corewu/test_errors.cpp"), 1);
    return catalog;
}

struct ErrorStateIsClean : ::testing::Test
{
    void TearDown() override
    {
        EXPECT_EQ(GetPendingCount(), 0);
        EXPECT_EQ(GetErrorCount(), 0u);
        ClearError();
    }
};

// An object whose destructor fails, written with the library's destructor rule.
// With `systemCause` the failure is a failed system call: the system error is
// pushed beneath the library message, as rule 2 has it.
class FailingResource
{
public:
    explicit FailingResource(TDestructorErrors policy = TDestructorErrors::Rethrow,
                             bool systemCause = false)
        : m_Policy(policy), m_SystemCause(systemCause)
    {}
    ~FailingResource() noexcept(false)
    {
        RunDestructorWork(
            [this] {
                if (m_SystemCause) {
                    ::SetLastError(ERROR_ACCESS_DENIED);
                    PushSystemError();
                }
                ThrowNewError(TestCatalog(), 2, TEXT("cleanup"), TString::NullString,
                              TString::NullString, nullptr);
            },
            m_Policy);
    }

private:
    TDestructorErrors m_Policy;
    bool m_SystemCause;
};

} // namespace

using ErrorStack = ErrorStateIsClean;

TEST_F(ErrorStack, ThrowNewErrorPushesCountsAndThrows)
{
    try {
        ThrowNewError(TestCatalog(), 1, TEXT("a"), TEXT("b"), TString::NullString, nullptr);
        FAIL() << "no exception";
    } catch (const TException& error) {
        EXPECT_EQ(GetPendingCount(), 1);
        EXPECT_EQ(GetErrorCount(), 1u);
        EXPECT_EQ(error.Catalog(), TestCatalog().Number());
        EXPECT_EQ(error.Message(), 1);
        const ZANTH::ZCInfo info = GetErrorInfo();
        EXPECT_EQ(info.Catalog(), TestCatalog().Number());
        EXPECT_EQ(info.Message(), 1);
        EXPECT_EQ(info.A1(), TEXT("a"));
        EXPECT_EQ(info.A2(), TEXT("b"));
        DecrementPendingCount();
        PopError();
    }
}

TEST_F(ErrorStack, SystemErrorStandsBeneathTheLibraryMessage)
{
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    PushSystemError();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(PushError(TestCatalog(), 3, TEXT("x"), TString::NullString, TString::NullString), 2u);
    const std::string text = GetErrorText().AsAnsi();
    // Top first: the library message, then its cause.
    EXPECT_NE(text.find("[TestCatalog 3]"), std::string::npos) << text;
    EXPECT_NE(text.find("\n[system error 2] The system cannot find the file specified."),
              std::string::npos)
        << text;
    PopError();
    const ZANTH::ZCInfo cause = GetErrorInfo();
    EXPECT_EQ(cause.Catalog(), 0); // a system error reads as free text
    EXPECT_NE(cause.A1().AsAnsi().find("cannot find the file"), std::string::npos);
    ClearError();
}

TEST_F(ErrorStack, ThrowLastErrorThrowsTheTopEntry)
{
    PushError(TestCatalog(), 4, TString::NullString, TString::NullString, TString::NullString);
    const auto caught = CatchError([] { ThrowLastError(); });
    EXPECT_TRUE(caught.raised);
    EXPECT_EQ(caught.message, 4);
    // With an empty stack there is still a clear error.
    const auto empty = CatchError([] { ThrowLastError(); });
    EXPECT_TRUE(empty.raised);
    EXPECT_EQ(empty.catalog, 0);
}

TEST_F(ErrorStack, ErrorsArePerThread)
{
    PushError(TestCatalog(), 5, TString::NullString, TString::NullString, TString::NullString);
    std::thread other([] { EXPECT_EQ(GetErrorCount(), 0u); });
    other.join();
    EXPECT_EQ(GetErrorCount(), 1u);
    ClearError();
}

TEST_F(ErrorStack, FailingDestructorRaisesWhenNothingElseIsPending)
{
    const auto caught = CatchError([] { FailingResource resource; });
    EXPECT_TRUE(caught.raised);
    EXPECT_EQ(caught.message, 2);
}

TEST_F(ErrorStack, FailingDestructorDuringUnwindingIsDroppedAndKeepsTheFirstError)
{
    try {
        FailingResource resource;
        ThrowNewError(TestCatalog(), 7, TString::NullString, TString::NullString,
                      TString::NullString, nullptr);
    } catch (const TException& error) {
        EXPECT_EQ(error.Message(), 7);
        EXPECT_EQ(GetPendingCount(), 1);
        EXPECT_EQ(GetErrorCount(), 1u);
        EXPECT_EQ(GetErrorInfo().Message(), 7); // the unwinding error stays on top
        DecrementPendingCount();
        ClearError();
    }
}

TEST_F(ErrorStack, ADroppedFailureTakesAllItsEntriesAndLeavesTheUnwindingErrorWhole)
{
    for (TDestructorErrors policy : {TDestructorErrors::Rethrow, TDestructorErrors::Swallow}) {
        SCOPED_TRACE(policy == TDestructorErrors::Rethrow ? "rethrow" : "swallow");
        try {
            FailingResource resource(policy, true);
            ::SetLastError(ERROR_FILE_NOT_FOUND);
            PushSystemError();
            ThrowNewError(TestCatalog(), 7, TString::NullString, TString::NullString,
                          TString::NullString, nullptr);
        } catch (const TException& error) {
            EXPECT_EQ(error.Message(), 7);
            // The unwinding error and its cause, nothing of the destructor's failure.
            ASSERT_EQ(GetErrorCount(), 2u);
            EXPECT_EQ(GetErrorInfo().Message(), 7);
            PopError();
            EXPECT_NE(GetErrorInfo().A1().AsAnsi().find("cannot find the file"), std::string::npos);
            DecrementPendingCount();
            ClearError();
        }
    }
}

// A catch site that handles a library error as a std::exception and forgets to
// count it down leaves the thread's pending count raised for good. That stale
// count must not silence the errors of later destructors, while an error that is
// really unwinding, or being handled, still wins over a failing destructor.
TEST_F(ErrorStack, AStalePendingCountDoesNotSilenceLaterDestructorErrors)
{
    try {
        ThrowNewError(TestCatalog(), 6, TString::NullString, TString::NullString,
                      TString::NullString, nullptr);
    } catch (const std::exception&) {
        // Careless: neither DecrementPendingCount nor ClearError.
    }
    ASSERT_EQ(GetPendingCount(), 1);

    for (bool systemCause : {false, true}) {
        SCOPED_TRACE(systemCause ? "with a system cause" : "library error only");
        const auto caught =
            CatchError([&] { FailingResource resource(TDestructorErrors::Rethrow, systemCause); });
        EXPECT_TRUE(caught.raised);
        EXPECT_EQ(caught.message, 2);
        EXPECT_EQ(GetPendingCount(), 1); // still the careless site's count, no more
    }

    // During real unwinding the destructor's error is still dropped.
    try {
        FailingResource resource;
        ThrowNewError(TestCatalog(), 7, TString::NullString, TString::NullString,
                      TString::NullString, nullptr);
    } catch (const TException& error) {
        EXPECT_EQ(error.Message(), 7);
        EXPECT_EQ(GetErrorInfo().Message(), 7);
        DecrementPendingCount();
    }
    // So it is inside a handler that cleans up before it counts its error down.
    try {
        ThrowNewError(TestCatalog(), 8, TString::NullString, TString::NullString,
                      TString::NullString, nullptr);
    } catch (const TException&) {
        EXPECT_NO_THROW({ FailingResource resource; });
        EXPECT_EQ(GetErrorInfo().Message(), 8);
        DecrementPendingCount();
    }

    DecrementPendingCount(); // the careless site's error
    ClearError();
}

TEST_F(ErrorStack, FailingDestructorDuringAForeignExceptionIsDropped)
{
    EXPECT_THROW(
        {
            FailingResource resource;
            throw std::runtime_error("not ours");
        },
        std::runtime_error);
}

TEST_F(ErrorStack, SwallowingDestructorAlwaysDrops)
{
    EXPECT_NO_THROW({ FailingResource resource(TDestructorErrors::Swallow); });
    EXPECT_NO_THROW({ FailingResource resource(TDestructorErrors::Swallow, true); });
}

TEST_F(ErrorStack, ForeignExceptionsInCleaningWorkAreReportedNotThrown)
{
    testsupport::LogCapture log;
    EXPECT_NO_THROW(RunDestructorWork([] { throw std::logic_error("broken"); }));
    EXPECT_TRUE(log.Contains("Unhandled exception: broken", 1));
}

TEST_F(ErrorStack, CleaningWorkMayEndItsThread)
{
    const DWORD code = testsupport::ExitCodeOfThread([] {
        RunDestructorWork([] { ::ExitThread(5); });
        return DWORD{1};
    });
    EXPECT_EQ(code, 5u);
}

TEST_F(ErrorStack, ShowErrorBoxShowsTheStackAndClearsIt)
{
    testsupport::MessageBoxScript boxes(IDOK);
    PushError(TestCatalog(), 1, TEXT("one"), TEXT("two"), TString::NullString);
    InsertDebugInfoIntoErrorStack("some/file.cpp", 12);
    EXPECT_EQ(InternalShowErrorBox(nullptr, nullptr, nullptr), IDOK);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("(some/file.cpp:12)"), std::string::npos);
    EXPECT_EQ(boxes.Boxes()[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(GetErrorCount(), 0u);
}

TEST(Catalogs, RegistrationAndLookup)
{
    const WORD number = TestCatalog().Number();
    EXPECT_GT(number, 0);
    TCatalogInfo info;
    ASSERT_TRUE(GetCatalogInfo(number, info));
    EXPECT_EQ(info.name, TEXT("TestCatalog"));
    EXPECT_EQ(info.module, TEXT("TESTS"));
    EXPECT_EQ(info.line, 1u);
    EXPECT_EQ(FindCatalog(TEXT("TestCatalog")), number);
    // The same name and module keep their number (a library loaded again).
    const TMessageBase again(TEXT("TestCatalog"), TEXT("TESTS"), TEXT("elsewhere"), 99);
    EXPECT_EQ(again.Number(), number);
    const TMessageBase other(TEXT("TestCatalog"), TEXT("OTHER"), TEXT("elsewhere"), 99);
    EXPECT_NE(other.Number(), number);
    TMessageBase copy = other;
    copy = TestCatalog();
    EXPECT_EQ(copy.Number(), number);
    EXPECT_FALSE(GetCatalogInfo(0, info));
    EXPECT_FALSE(GetCatalogInfo(0xFFF0, info));
}

TEST(Catalogs, MessagesInsertTheirArguments)
{
    SetMessageText(TEXT("TestCatalog"), 10, TEXT("%1 of %2 (%3) 100%%"));
    EXPECT_EQ(GetMessageW(TestCatalog(), 10, TEXT("one"), TEXT("two"), TEXT("three")),
              TEXT("one of two (three) 100%"));
    // A text the store does not hold still says what happened.
    EXPECT_EQ(GetMessageW(TestCatalog(), 11, TEXT("x"), TString::NullString, TString::NullString),
              TEXT("TestCatalog message 11: x"));
    EXPECT_FALSE(HasMessageText(TestCatalog(), 11));
    // Catalog 0 is free text.
    EXPECT_EQ(GetMessageW(0, 0, TEXT("just this"), TString::NullString, TString::NullString),
              TEXT("just this"));
    // The base library's own file errors have texts.
    EXPECT_TRUE(HasMessageText(TFile::FileErrors(), 0));
}
