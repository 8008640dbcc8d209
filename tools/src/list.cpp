// TList and TListElement: the intrusive doubly linked list.
#include <corewu/errors.h>
#include <zanth/list.h>

TListElement::~TListElement() noexcept(false) {}

TList::~TList()
{
    DeleteAll();
}

void TList::AddHead(TListElement* element)
{
    if (m_pHead == nullptr) {
        element->m_pNext = nullptr;
        m_pTail = element;
    } else {
        element->m_pNext = m_pHead;
        m_pHead->m_pPrev = element;
    }
    element->m_pPrev = nullptr;
    m_pHead = element;
}

void TList::AddTail(TListElement* element)
{
    if (m_pHead == nullptr) {
        element->m_pPrev = nullptr;
        m_pHead = element;
    } else {
        element->m_pPrev = m_pTail;
        m_pTail->m_pNext = element;
    }
    element->m_pNext = nullptr;
    m_pTail = element;
}

void TList::AddHead(TList& other)
{
    Join(other.m_pHead, other.m_pTail, m_pHead, m_pTail);
}

void TList::AddTail(TList& other)
{
    Join(m_pHead, m_pTail, other.m_pHead, other.m_pTail);
}

void TList::Join(TListElement* frontHead, TListElement* frontTail, TListElement* backHead,
                 TListElement* backTail)
{
    if (!frontHead) {
        m_pHead = backHead;
        m_pTail = backTail;
        return;
    }
    if (backHead) {
        frontTail->m_pNext = backHead;
        backHead->m_pPrev = frontTail;
        frontTail = backTail;
    }
    m_pHead = frontHead;
    m_pTail = frontTail;
}

void TList::Remove(TListElement* element)
{
    if (element == m_pHead) {
        m_pHead = element->m_pNext;
        if (m_pHead != nullptr) {
            m_pHead->m_pPrev = nullptr;
        }
    } else {
        element->m_pPrev->m_pNext = element->m_pNext;
    }
    if (element == m_pTail) {
        m_pTail = element->m_pPrev;
        if (m_pTail != nullptr) {
            m_pTail->m_pNext = nullptr;
        }
    } else {
        element->m_pNext->m_pPrev = element->m_pPrev;
    }
}

TListElement* TList::RemoveHead()
{
    TListElement* element = m_pHead;
    if (element == nullptr) {
        return nullptr;
    }
    m_pHead = element->m_pNext;
    if (m_pHead != nullptr) {
        m_pHead->m_pPrev = nullptr;
    } else {
        m_pTail = nullptr;
    }
    return element;
}

TListElement* TList::RemoveTail()
{
    TListElement* element = m_pTail;
    if (element == nullptr) {
        return nullptr;
    }
    m_pTail = element->m_pPrev;
    if (m_pTail != nullptr) {
        m_pTail->m_pNext = nullptr;
    } else {
        m_pHead = nullptr;
    }
    return element;
}

void TList::DeleteAll()
{
    while (m_pHead != nullptr) {
        TListElement* element = RemoveHead();
        try {
            delete element;
        } catch (TException&) {
            DecrementPendingCount();
            ClearError();
        } catch (...) {
            ZanthUnhandledException();
        }
    }
}
