// TPlex: the block chain behind TPtrList's nodes.
#include <corewu/ptrlist.h>

#include <cstdlib>

TPlex* TPlex::Create(TPlex*& head, UINT count, UINT elementSize)
{
    const std::size_t bytes = sizeof(TPlex) + static_cast<std::size_t>(count) * elementSize;
    void* memory = std::malloc(bytes);
    if (!memory) {
        throw std::bad_alloc();
    }
    TPlex* block = static_cast<TPlex*>(memory);
    block->pNext = head;
    head = block;
    return block;
}

void TPlex::FreeDataChain()
{
    TPlex* block = this;
    while (block) {
        TPlex* next = block->pNext;
        std::free(block);
        block = next;
    }
}
