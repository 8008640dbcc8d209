// TList and TListElement: linking, unlinking, splicing and deleting.
#include "testsupport.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<int> g_Destroyed;

// An element that records its destruction and can be told to fail in it.
class Item : public TListElement
{
public:
    enum class Fail
    {
        No,
        LibraryError,
        OtherException
    };
    explicit Item(int id, Fail fail = Fail::No) : m_Id(id), m_Fail(fail) {}
    ~Item() noexcept(false) override
    {
        g_Destroyed.push_back(m_Id);
        if (m_Fail == Fail::LibraryError) {
            ThrowNewError(0, 0, TString(TEXT("element failed")), TString::NullString,
                          TString::NullString, nullptr);
        }
        if (m_Fail == Fail::OtherException) {
            throw std::runtime_error("element failed");
        }
    }
    int Id() const { return m_Id; }

private:
    int m_Id;
    Fail m_Fail;
};

int IdOf(TListElement* e)
{
    return static_cast<Item*>(e)->Id();
}

// The ids from head to tail, checked against the walk from tail to head and
// against the invariants (head's prev and tail's next are null).
std::vector<int> Ids(const TList& list)
{
    std::vector<int> forward, backward;
    if (list.GetHead() != nullptr) {
        EXPECT_EQ(nullptr, list.GetHead()->Prev());
        EXPECT_EQ(nullptr, list.GetTail()->Next());
    } else {
        EXPECT_EQ(nullptr, list.GetTail());
    }
    for (TListElement* e = list.GetHead(); e != nullptr; e = e->Next()) {
        forward.push_back(IdOf(e));
    }
    for (TListElement* e = list.GetTail(); e != nullptr; e = e->Prev()) {
        backward.insert(backward.begin(), IdOf(e));
    }
    EXPECT_EQ(forward, backward);
    return forward;
}

class ListTest : public ::testing::Test
{
protected:
    void SetUp() override { g_Destroyed.clear(); }
};

} // namespace

TEST_F(ListTest, AddToAnEmptyListMakesHeadAndTailWithNullLinks)
{
    for (bool atHead : {true, false}) {
        TList list;
        EXPECT_EQ(1u, list.IsEmpty());
        auto* item = new Item(1);
        if (atHead) {
            list.AddHead(item);
        } else {
            list.AddTail(item);
        }
        EXPECT_EQ(0u, list.IsEmpty());
        EXPECT_EQ(item, list.GetHead());
        EXPECT_EQ(item, list.GetTail());
        EXPECT_EQ(nullptr, item->Next());
        EXPECT_EQ(nullptr, item->Prev());
    }
}

TEST_F(ListTest, AddAndRemoveKeepTheOrder)
{
    TList list;
    auto* a = new Item(1);
    auto* b = new Item(2);
    auto* c = new Item(3);
    auto* d = new Item(4);
    list.AddTail(b);
    list.AddHead(a);
    list.AddTail(c);
    list.AddTail(d);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), Ids(list));

    list.Remove(c); // middle
    EXPECT_EQ((std::vector<int>{1, 2, 4}), Ids(list));
    list.Remove(d); // tail
    EXPECT_EQ((std::vector<int>{1, 2}), Ids(list));
    list.AddTail(c);
    list.AddHead(d);
    EXPECT_EQ((std::vector<int>{4, 1, 2, 3}), Ids(list));

    EXPECT_EQ(d, list.RemoveHead());
    EXPECT_EQ(c, list.RemoveTail());
    EXPECT_EQ((std::vector<int>{1, 2}), Ids(list));

    // Removing the head of two leaves the other as head and tail with null links.
    list.Remove(a);
    EXPECT_EQ(b, list.GetHead());
    EXPECT_EQ(b, list.GetTail());
    EXPECT_EQ(nullptr, b->Prev());
    EXPECT_EQ(nullptr, b->Next());
    // Removing the only element empties the list.
    list.Remove(b);
    EXPECT_EQ(1u, list.IsEmpty());
    EXPECT_EQ(nullptr, list.GetTail());
    // Removing from an empty list gives null.
    EXPECT_EQ(nullptr, list.RemoveHead());
    EXPECT_EQ(nullptr, list.RemoveTail());
    for (Item* item : {a, b, c, d}) {
        delete item;
    }
}

TEST_F(ListTest, RemoveHeadAndTailEmptyTheListFromBothEnds)
{
    TList list;
    for (int id = 1; id <= 3; ++id) {
        list.AddTail(new Item(id));
    }
    std::vector<int> taken;
    bool fromHead = true;
    while (!list.IsEmpty()) {
        TListElement* e = fromHead ? list.RemoveHead() : list.RemoveTail();
        taken.push_back(IdOf(e));
        delete e;
        fromHead = !fromHead;
        Ids(list); // invariants hold after every step
    }
    EXPECT_EQ((std::vector<int>{1, 3, 2}), taken);
}

// Splicing another list: (this list, other list, at head?) -> resulting order.
TEST_F(ListTest, SplicingAnotherList)
{
    struct Case
    {
        std::vector<int> mine;
        std::vector<int> other;
        bool atHead;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{1, 2}, {}, false, {1, 2}},
        {{1, 2}, {}, true, {1, 2}},
        {{}, {3, 4}, false, {3, 4}},
        {{}, {3, 4}, true, {3, 4}},
        {{1, 2}, {3, 4}, false, {1, 2, 3, 4}},
        {{1, 2}, {3, 4}, true, {3, 4, 1, 2}},
        {{1}, {3}, false, {1, 3}},
        {{1}, {3}, true, {3, 1}},
    };
    for (const Case& c : cases) {
        TList mine, other;
        for (int id : c.mine) {
            mine.AddTail(new Item(id));
        }
        for (int id : c.other) {
            other.AddTail(new Item(id));
        }
        TListElement* otherHead = other.GetHead();
        TListElement* otherTail = other.GetTail();
        if (c.atHead) {
            mine.AddHead(other);
        } else {
            mine.AddTail(other);
        }
        EXPECT_EQ(c.expected, Ids(mine));
        // The other list still names its old elements until it is cleared.
        EXPECT_EQ(otherHead, other.GetHead());
        EXPECT_EQ(otherTail, other.GetTail());
        other.RemoveAll();
    }
}

TEST_F(ListTest, RemoveAllForgetsWithoutUnlinkingOrDeleting)
{
    TList list;
    auto* a = new Item(1);
    auto* b = new Item(2);
    list.AddTail(a);
    list.AddTail(b);
    list.RemoveAll();
    EXPECT_EQ(1u, list.IsEmpty());
    EXPECT_EQ(nullptr, list.GetTail());
    EXPECT_TRUE(g_Destroyed.empty());
    EXPECT_EQ(b, a->Next());
    EXPECT_EQ(a, b->Prev());
    delete a;
    delete b;
}

TEST_F(ListTest, CopiesNameTheSameElements)
{
    TList list;
    auto* a = new Item(1);
    list.AddTail(a);
    TList copy;
    copy = list;
    EXPECT_EQ(a, copy.GetHead());
    EXPECT_EQ(a, copy.GetTail());
    copy.RemoveAll();

    // An element's copy takes over the links as they are.
    auto* b = new Item(2);
    list.AddTail(b);
    Item c(3);
    static_cast<TListElement&>(c) = *a;
    EXPECT_EQ(b, c.Next());
    EXPECT_EQ(nullptr, c.Prev());
}

TEST_F(ListTest, DestroyingTheListDeletesEveryElementHeadFirst)
{
    {
        TList list;
        for (int id = 1; id <= 3; ++id) {
            list.AddTail(new Item(id));
        }
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3}), g_Destroyed);
}

// An element whose destructor fails does not stop the others from being deleted;
// a library error is counted down and cleared, anything else is reported.
TEST_F(ListTest, DeleteAllGoesOnWhenAnElementFails)
{
    TList list;
    list.AddTail(new Item(1));
    list.AddTail(new Item(2, Item::Fail::LibraryError));
    list.AddTail(new Item(3, Item::Fail::OtherException));
    list.AddTail(new Item(4));
    testsupport::LogCapture log;
    list.DeleteAll();
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), g_Destroyed);
    EXPECT_EQ(1u, list.IsEmpty());
    EXPECT_EQ(0, GetPendingCount());
    EXPECT_EQ(0u, GetErrorCount());
    bool reported = false;
    for (const auto& line : log.Lines()) {
        reported |= line.text.find("element failed") != std::string::npos;
    }
    EXPECT_TRUE(reported);
}
