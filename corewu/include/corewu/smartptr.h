// TSmartPtr: the base library's owning pointer.
#ifndef COREWU_SMARTPTR_H
#define COREWU_SMARTPTR_H

#include <utility>

// Owns one object (or none) and deletes it through its virtual destructor when the
// pointer is destroyed or given another object. Not copyable; movable.
// Thread rules: one thread at a time per pointer object.
template <class T> class TSmartPtr
{
public:
    explicit TSmartPtr(T* object = nullptr) : m_pObject(object) {}
    virtual ~TSmartPtr() { delete m_pObject; }
    TSmartPtr(const TSmartPtr&) = delete;
    TSmartPtr& operator=(const TSmartPtr&) = delete;
    TSmartPtr(TSmartPtr&& other) noexcept : m_pObject(std::exchange(other.m_pObject, nullptr)) {}
    TSmartPtr& operator=(TSmartPtr&& other) noexcept
    {
        if (this != &other) {
            Attach(std::exchange(other.m_pObject, nullptr));
        }
        return *this;
    }

    T* operator->() const { return m_pObject; }
    T& operator*() const { return *m_pObject; }
    T* Get() const { return m_pObject; }
    explicit operator bool() const { return m_pObject != nullptr; }

    // Deletes the current object and owns `object` instead.
    void Attach(T* object)
    {
        T* old = m_pObject;
        m_pObject = object;
        delete old;
    }
    // Gives up ownership without deleting.
    T* Detach() { return std::exchange(m_pObject, nullptr); }

private:
    T* m_pObject;
};

#endif // COREWU_SMARTPTR_H
