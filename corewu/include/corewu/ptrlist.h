// TPtrList: a doubly linked list of pointers whose nodes are allocated in blocks
// (TPlex), with positions (opaque node pointers) for walking and editing.
#ifndef COREWU_PTRLIST_H
#define COREWU_PTRLIST_H

#include <corewu/config.h>

#include <cstddef>
#include <new>

// A position in a list: the node, or null for "none".
typedef void* POSITION;

// A chain of memory blocks. Create adds a block of `count` elements of
// `elementSize` bytes at the front of the chain; FreeDataChain frees the chain.
struct COREWU_API TPlex
{
    TPlex* pNext;

    void* data() { return this + 1; }
    static TPlex* Create(TPlex*& head, UINT count, UINT elementSize);
    void FreeDataChain();
};

// A list of values of a pointer type T (for example TPtrList<TFormatInfo*>). The
// list does not own what the pointers point to. Nodes come from blocks of
// `blockSize` nodes and are reused; RemoveAll gives the blocks back.
// Thread rules: one thread at a time, or readers only.
template <class T> class TPtrList
{
    struct Node
    {
        Node* next;
        Node* prev;
        T data;
    };

public:
    explicit TPtrList(UINT blockSize = 16) : m_BlockSize(blockSize ? blockSize : 16) {}
    ~TPtrList() { RemoveAll(); }
    TPtrList(const TPtrList&) = delete;
    TPtrList& operator=(const TPtrList&) = delete;

    LONG GetCount() const { return m_Count; }
    BOOL IsEmpty() const { return m_Count == 0; }

    T& GetHead() { return m_pHead->data; }
    T& GetTail() { return m_pTail->data; }
    POSITION GetHeadPosition() const { return m_pHead; }
    POSITION GetTailPosition() const { return m_pTail; }

    // Returns the value at `position` and moves it to the next (or previous) node.
    T& GetNext(POSITION& position) const
    {
        Node* node = static_cast<Node*>(position);
        position = node->next;
        return node->data;
    }
    T& GetPrev(POSITION& position) const
    {
        Node* node = static_cast<Node*>(position);
        position = node->prev;
        return node->data;
    }
    T& GetAt(POSITION position) const { return static_cast<Node*>(position)->data; }
    void SetAt(POSITION position, T value) { static_cast<Node*>(position)->data = value; }

    POSITION AddHead(T value)
    {
        Node* node = NewNode(nullptr, m_pHead, value);
        (m_pHead ? m_pHead->prev : m_pTail) = node;
        m_pHead = node;
        return node;
    }
    POSITION AddTail(T value)
    {
        Node* node = NewNode(m_pTail, nullptr, value);
        (m_pTail ? m_pTail->next : m_pHead) = node;
        m_pTail = node;
        return node;
    }
    POSITION InsertBefore(POSITION position, T value)
    {
        if (!position) {
            return AddHead(value);
        }
        Node* old = static_cast<Node*>(position);
        Node* node = NewNode(old->prev, old, value);
        (old->prev ? old->prev->next : m_pHead) = node;
        old->prev = node;
        return node;
    }
    POSITION InsertAfter(POSITION position, T value)
    {
        if (!position) {
            return AddTail(value);
        }
        Node* old = static_cast<Node*>(position);
        Node* node = NewNode(old, old->next, value);
        (old->next ? old->next->prev : m_pTail) = node;
        old->next = node;
        return node;
    }

    // The list must not be empty.
    T RemoveHead()
    {
        Node* node = m_pHead;
        T value = node->data;
        RemoveAt(node);
        return value;
    }
    T RemoveTail()
    {
        Node* node = m_pTail;
        T value = node->data;
        RemoveAt(node);
        return value;
    }
    void RemoveAt(POSITION position)
    {
        Node* node = static_cast<Node*>(position);
        (node->prev ? node->prev->next : m_pHead) = node->next;
        (node->next ? node->next->prev : m_pTail) = node->prev;
        FreeNode(node);
    }
    void RemoveAll()
    {
        for (Node* node = m_pHead; node;) {
            Node* next = node->next;
            node->data.~T();
            node = next;
        }
        m_pHead = m_pTail = m_pFree = nullptr;
        m_Count = 0;
        if (m_pBlocks) {
            m_pBlocks->FreeDataChain();
            m_pBlocks = nullptr;
        }
    }

    // The first node after `after` (or from the head) whose value equals `value`.
    POSITION Find(T value, POSITION after = nullptr) const
    {
        Node* node = after ? static_cast<Node*>(after)->next : m_pHead;
        for (; node; node = node->next) {
            if (node->data == value) {
                return node;
            }
        }
        return nullptr;
    }
    // The node at a zero-based index, or null.
    POSITION FindIndex(LONG index) const
    {
        if (index < 0 || index >= m_Count) {
            return nullptr;
        }
        Node* node = m_pHead;
        while (index--) {
            node = node->next;
        }
        return node;
    }

private:
    Node* NewNode(Node* prev, Node* next, T value)
    {
        if (!m_pFree) {
            TPlex* block = TPlex::Create(m_pBlocks, m_BlockSize, sizeof(Node));
            Node* nodes = static_cast<Node*>(block->data());
            for (UINT i = m_BlockSize; i-- > 0;) {
                nodes[i].next = m_pFree;
                m_pFree = &nodes[i];
            }
        }
        Node* node = m_pFree;
        m_pFree = node->next;
        node->prev = prev;
        node->next = next;
        new (&node->data) T(value);
        ++m_Count;
        return node;
    }
    void FreeNode(Node* node)
    {
        node->data.~T();
        node->next = m_pFree;
        m_pFree = node;
        if (--m_Count == 0) {
            RemoveAll();
        }
    }

    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    Node* m_pFree = nullptr;
    TPlex* m_pBlocks = nullptr;
    LONG m_Count = 0;
    UINT m_BlockSize;
};

#endif // COREWU_PTRLIST_H
