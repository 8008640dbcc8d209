// TList and TListElement: an intrusive doubly linked list.
#ifndef ZANTH_LIST_H
#define ZANTH_LIST_H

#include <zanth/config.h>

// The links of an element of a TList. Derive from it to put objects of a class into
// a list without an extra allocation. The links are meaningful only while the
// element is in a list: a list does not clear them when the element leaves, and an
// element is in at most one list at a time (its owner keeps track of which).
// Thread rules: as the list that holds it.
class ZANTH_TOOLS_API TListElement
{
public:
    TListElement() = default;
    // Copies take the source's links as they are.
    TListElement(const TListElement& other) = default;
    TListElement& operator=(const TListElement& other) = default;
    // Leaves the links alone: remove an element from its list before anyone but the
    // list destroys it. A derived destructor may raise a library error; the list
    // that deletes it drops the error and goes on (TList::DeleteAll).
    virtual ~TListElement() noexcept(false);

    TListElement* Next() const { return m_pNext; }
    TListElement* Prev() const { return m_pPrev; }

private:
    friend class TList;
    // Null until the element is first linked in, so that a stray Next() or Prev()
    // reads null rather than garbage.
    TListElement* m_pNext = nullptr;
    TListElement* m_pPrev = nullptr;
};

// A doubly linked list of TListElement objects, head to tail. The list owns the
// elements that are in it: DeleteAll and the destructor delete them, so elements
// are created with new. Removed elements belong to the caller again. No operation
// checks its arguments: RemoveHead/RemoveTail need a non-empty list (they return
// null on an empty one), Remove needs an element of this list, and an element is
// added only while it is in no list.
// Thread rules: one thread at a time, or under a lock of the caller.
class ZANTH_TOOLS_API TList
{
public:
    TList() = default;
    // Both lists then name the same elements; nothing is copied. Clear one of them
    // with RemoveAll before it is destroyed, or the elements are deleted twice.
    TList(const TList& other) = default;
    TList& operator=(const TList& other) = default;
    ~TList();

    unsigned int IsEmpty() const { return m_pHead == nullptr ? 1 : 0; }
    TListElement* GetHead() const { return m_pHead; }
    TListElement* GetTail() const { return m_pTail; }

    void AddHead(TListElement* element);
    void AddTail(TListElement* element);
    // Links all elements of `other` in front of or behind this list's elements.
    // `other` keeps naming them: clear it with RemoveAll before using it again.
    void AddHead(TList& other);
    void AddTail(TList& other);

    void Remove(TListElement* element);
    TListElement* RemoveHead();
    TListElement* RemoveTail();
    // Forgets the elements without unlinking or deleting them.
    void RemoveAll()
    {
        m_pHead = nullptr;
        m_pTail = nullptr;
    }
    // Unlinks and deletes every element, head first. A library error raised by an
    // element's destructor is dropped (counted down and cleared); any other
    // exception goes to the unhandled-exception report; deletion goes on either way.
    void DeleteAll();

private:
    // Makes this list the chain front followed by back; either may be empty.
    void Join(TListElement* frontHead, TListElement* frontTail, TListElement* backHead,
              TListElement* backTail);

    TListElement* m_pHead = nullptr;
    TListElement* m_pTail = nullptr;
};

#endif // ZANTH_LIST_H
