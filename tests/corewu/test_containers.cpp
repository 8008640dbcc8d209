// TPtrList, TSmartPtr, callbacks, the log, the module list and small types.
#include "testsupport.h"

#include <fstream>

TEST(TPtrList, AddWalkRemoveAndReuseNodes)
{
    int values[5] = {0, 1, 2, 3, 4};
    TPtrList<int*> list(2); // small blocks, so several are chained
    EXPECT_TRUE(list.IsEmpty());
    for (int& v : values) {
        list.AddTail(&v);
    }
    list.AddHead(&values[4]);
    EXPECT_EQ(list.GetCount(), 6);
    std::vector<int> seen;
    for (POSITION p = list.GetHeadPosition(); p;) {
        seen.push_back(*list.GetNext(p));
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 0, 1, 2, 3, 4}));
    POSITION two = list.Find(&values[2]);
    ASSERT_NE(two, nullptr);
    list.InsertBefore(two, &values[0]);
    list.InsertAfter(two, &values[1]);
    list.RemoveAt(two);
    EXPECT_EQ(list.RemoveHead(), &values[4]);
    EXPECT_EQ(list.RemoveTail(), &values[4]);
    seen.clear();
    for (POSITION p = list.GetTailPosition(); p;) {
        seen.push_back(*list.GetPrev(p));
    }
    EXPECT_EQ(seen, (std::vector<int>{3, 1, 0, 1, 0}));
    EXPECT_EQ(*list.GetAt(list.FindIndex(1)), 1);
    EXPECT_EQ(list.FindIndex(9), nullptr);
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    list.AddTail(&values[0]); // usable again after RemoveAll
    EXPECT_EQ(list.GetHead(), &values[0]);
}

namespace {

struct Counted
{
    static int alive;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
};
int Counted::alive = 0;

} // namespace

TEST(TSmartPtr, OwnsAndDeletes)
{
    {
        TSmartPtr<Counted> p(new Counted);
        EXPECT_EQ(Counted::alive, 1);
        p.Attach(new Counted);
        EXPECT_EQ(Counted::alive, 1);
        TSmartPtr<Counted> moved(std::move(p));
        EXPECT_FALSE(p);
        EXPECT_TRUE(moved);
        Counted* raw = moved.Detach();
        EXPECT_EQ(Counted::alive, 1);
        delete raw;
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(Callbacks, InvokeAllCallsEveryRegistrationInOrder)
{
    TCallback callbacks;
    std::vector<std::pair<DWORD, int>> calls;
    auto record = [](DWORD id, void*, void* context) {
        auto* pair = static_cast<std::pair<std::vector<std::pair<DWORD, int>>*, int>*>(context);
        pair->first->push_back({id, pair->second});
    };
    std::pair<std::vector<std::pair<DWORD, int>>*, int> one{&calls, 1}, two{&calls, 2};
    callbacks.Add(record, &one);
    callbacks.Add(record, &two);
    callbacks.InvokeAll(3, nullptr);
    EXPECT_EQ(calls, (std::vector<std::pair<DWORD, int>>{{3, 1}, {3, 2}}));
    EXPECT_TRUE(callbacks.Remove(record, &one));
    EXPECT_FALSE(callbacks.Remove(record, &one));
    callbacks.InvokeAll(4, nullptr);
    EXPECT_EQ(calls.back(), (std::pair<DWORD, int>{4, 2}));
    EXPECT_EQ(callbacks.Count(), 1u);
    // A null function is not registered, so InvokeAll has nothing bad to call.
    callbacks.Add(nullptr, &one);
    EXPECT_EQ(callbacks.Count(), 1u);
    callbacks.InvokeAll(5, nullptr);
    EXPECT_EQ(calls.back(), (std::pair<DWORD, int>{5, 2}));
}

// A class that is itself a callback list and a listener, with the notification
// entry written as its users declare it: Notify(long code, const void* data,
// void* context), with LONG for the 32-bit long.
class ListeningList : public TCallback
{
public:
    LONG lastCode = -1;
    void Tell(LONG code) { Notify(code, nullptr, this); }

protected:
    void Notify(LONG code, const void*, void* context) override
    {
        if (context == this) {
            lastCode = code;
        }
    }
};

TEST(Callbacks, DerivedClassesOverrideTheNotificationEntry)
{
    ListeningList list;
    list.Tell(2);
    EXPECT_EQ(list.lastCode, 2);
    list.InvokeAll(2, nullptr); // the list never calls Notify on its own
    EXPECT_EQ(list.lastCode, 2);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(Log, LinesReachSinksAndTheFile)
{
    testsupport::LogCapture capture;
    g_ptheLogfile->Write(1, u"an error line");
    g_ptheLogfile->Write(u"an information line");
    EXPECT_TRUE(capture.Contains("an error line", 1));
    EXPECT_TRUE(capture.Contains("an information line", 3));
    const std::string file = g_ptheLogfile->FileName().AsAnsi();
    EXPECT_EQ(file, testsupport::TempPath("zanthtools.log"));
    std::ifstream in(file);
    const std::string content(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(content.find(" 1 an error line\n"), std::string::npos) << content;
}

TEST(ModuleList, AppendAndFind)
{
    TModuleList list;
    TModuleRecord record;
    record.module = reinterpret_cast<HMODULE>(0x1000);
    record.value = -1;
    record.path = u"/lib/one.so";
    list.Append(record);
    record.path = u"/lib/again.so";
    list.Append(record);
    TModuleRecord found;
    ASSERT_TRUE(list.Find(reinterpret_cast<HMODULE>(0x1000), found));
    EXPECT_EQ(found.path, u"/lib/again.so"); // the latest record of that module
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_FALSE(list.Find(nullptr, found));
}

TEST(Geometry, PointsAndRectangles)
{
    const TRect rect(10, 20, 110, 70);
    EXPECT_EQ(rect.Width(), 100);
    EXPECT_EQ(rect.Height(), 50);
    EXPECT_TRUE(rect.Contains(TPoint(10, 20)));
    EXPECT_FALSE(rect.Contains(TPoint(110, 20)));
    EXPECT_EQ(rect.BottomRight(), TPoint(110, 70));
    EXPECT_TRUE(TRect(5, 5, 5, 9).IsEmpty());
}
