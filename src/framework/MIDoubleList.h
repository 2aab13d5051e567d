// The framework's doubly linked list of element pointers: an internal cursor, an optional lock (its own
// critical section or an outside ILockable) and sorting through a comparator. The list owns its nodes;
// whether it owns the elements is up to whoever uses it (DeleteAll deletes them on request).
#pragma once

#include <memory>

#include "framework/ILockable.h"
#include "platform/Sync.h"

// Decides which elements a positioning operation stops on; a null filter accepts every element.
template <class T>
class IListFilter {
public:
    virtual bool Accept(T* element) = 0;

protected:
    ~IListFilter() = default;
};

template <class T>
class MIDoubleList;

// Ordering for Sort: true when `a` belongs after `b` (with reverse set, when it belongs before).
template <class T>
class IListCompare {
public:
    virtual bool Compare(MIDoubleList<T>* list, T* a, T* b, bool reverse, int context) = 0;

protected:
    ~IListCompare() = default;
};

template <class T>
class MIDoubleListIterator;

template <class T>
class MIDoubleList {
public:
    // Lock flags: the list's own operations pass 1, iterators pass 0 (an outside lock may tell them apart).
    static constexpr int kListLockFlag = 1;
    static constexpr int kIteratorLockFlag = 0;

    explicit MIDoubleList(bool lockEnabled = true, ILockable* externalLock = nullptr)
        : lockEnabled_(lockEnabled), externalLock_(externalLock) {
        if (!externalLock_) ownLock_.reset(new platform::MCriticalSection());
    }

    // Frees the nodes only; the elements stay with whoever owns them.
    ~MIDoubleList() { FreeNodesFrom(first_); }

    MIDoubleList(const MIDoubleList&) = delete;
    MIDoubleList& operator=(const MIDoubleList&) = delete;

    // Raw lock access, independent of the lock-enabled flag: callers that take the lock explicitly
    // (registries built with locking disabled) use these.
    void Lock(int flag) {
        if (externalLock_) {
            externalLock_->Lock(flag);
        } else {
            ownLock_->Enter();
        }
    }
    void Unlock(int flag) {
        if (externalLock_) {
            externalLock_->Unlock(flag);
        } else {
            ownLock_->Leave();
        }
    }

    bool IsLockEnabled() const { return lockEnabled_; }

    // Appends at the end and leaves the cursor on the new node. A null element is not stored.
    T* Add(T* element) {
        Guard guard(this);
        if (!element) return nullptr;
        Node* node = new Node{last_, nullptr, element};
        if (last_) {
            last_->next = node;
        } else {
            first_ = node;
        }
        last_ = node;
        cursor_ = node;
        ++count_;
        return element;
    }

    // Unlinks the element's node (the element itself lives on); the cursor moves to the following node.
    // Returns the element at the cursor afterwards, or null.
    T* Remove(T* element) {
        Guard guard(this);
        if (!LocateUnlocked(element, nullptr)) return nullptr;
        Node* node = cursor_;
        if (node->prev) {
            node->prev->next = node->next;
        } else {
            first_ = node->next;
        }
        if (node->next) {
            node->next->prev = node->prev;
        } else {
            last_ = node->prev;
        }
        cursor_ = node->next;
        --count_;
        delete node;
        return cursor_ ? cursor_->element : nullptr;
    }

    // Puts the cursor on the element's node; null (and no cursor) when the element is not in the list.
    T* Locate(T* element, IListFilter<T>* filter = nullptr) {
        Guard guard(this);
        return LocateUnlocked(element, filter);
    }

    T* GetFirst(IListFilter<T>* filter = nullptr) {
        Guard guard(this);
        return GetFirstUnlocked(filter);
    }

    // Past the last element the cursor becomes null and stays there until the next GetFirst.
    T* GetNext(IListFilter<T>* filter = nullptr) {
        Guard guard(this);
        return GetNextUnlocked(filter);
    }

    int GetCount(IListFilter<T>* filter = nullptr) {
        Guard guard(this);
        if (!filter) return count_;
        int accepted = 0;
        MIDoubleListIterator<T> it(this, filter, lockEnabled_);
        for (T* e = it.Current(); e; e = it.Next()) ++accepted;
        return accepted;
    }

    // Deletes every element and every node; the list is empty afterwards.
    void DeleteAll() {
        Guard guard(this);
        Node* node = first_;
        while (node) {
            Node* next = node->next;
            delete node->element;
            delete node;
            node = next;
        }
        first_ = last_ = cursor_ = nullptr;
        count_ = 0;
    }

    // A new array of the elements in list order, ended by a null entry; the caller frees it with delete[].
    T** ToArray() {
        Guard guard(this);
        return ToArrayUnlocked();
    }

    // Rewrites the list from a null-ended array, reusing the existing nodes in order: surplus nodes are
    // freed, surplus entries appended. A null array empties the list (elements untouched).
    void SetFromArray(T** array) {
        Guard guard(this);
        SetFromArrayUnlocked(array);
    }

    // Ascending order by the comparator; not stable. The cursor ends on the first element.
    void Sort(IListCompare<T>* comparator, int context) {
        Guard guard(this);
        if (!comparator) return;
        T** array = ToArrayUnlocked();
        QuickSort(array, 0, count_ - 1, comparator, context);
        SetFromArrayUnlocked(array);
        delete[] array;
        GetFirstUnlocked(nullptr);
    }

private:
    friend class MIDoubleListIterator<T>;

    struct Node {
        Node* prev;
        Node* next;
        T* element;
    };

    // Takes the list's lock for one operation when locking is enabled.
    class Guard {
    public:
        explicit Guard(MIDoubleList* list) : list_(list->lockEnabled_ ? list : nullptr) {
            if (list_) list_->Lock(kListLockFlag);
        }
        ~Guard() {
            if (list_) list_->Unlock(kListLockFlag);
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        MIDoubleList* list_;
    };

    static bool Accepts(IListFilter<T>* filter, Node* node) {
        return !filter || filter->Accept(node->element);
    }

    T* LocateUnlocked(T* element, IListFilter<T>* filter) {
        if (!element) return nullptr;
        for (T* e = GetFirstUnlocked(filter); cursor_; e = GetNextUnlocked(filter)) {
            if (e == element) return e;
        }
        return nullptr;
    }

    T* GetFirstUnlocked(IListFilter<T>* filter) {
        cursor_ = first_;
        if (cursor_ && !Accepts(filter, cursor_)) return GetNextUnlocked(filter);
        return cursor_ ? cursor_->element : nullptr;
    }

    T* GetNextUnlocked(IListFilter<T>* filter) {
        if (!cursor_) return nullptr;
        cursor_ = cursor_->next;
        while (cursor_ && !Accepts(filter, cursor_)) cursor_ = cursor_->next;
        return cursor_ ? cursor_->element : nullptr;
    }

    T** ToArrayUnlocked() {
        T** array = new T*[static_cast<size_t>(count_) + 1];
        int i = 0;
        for (Node* node = first_; node; node = node->next) array[i++] = node->element;
        array[i] = nullptr;
        return array;
    }

    void SetFromArrayUnlocked(T** array) {
        if (!array) {
            FreeNodesFrom(first_);
            first_ = last_ = cursor_ = nullptr;
            count_ = 0;
            return;
        }
        Node* node = first_;
        Node* lastWritten = nullptr;
        int written = 0;
        T** entry = array;
        for (; *entry && node; ++entry, node = node->next) {
            node->element = *entry;
            lastWritten = node;
            ++written;
        }
        if (node) {
            // The array ran out first: the list ends after the last written node.
            if (CursorWithin(node)) cursor_ = nullptr;
            FreeNodesFrom(node);
            last_ = lastWritten;
            if (lastWritten) {
                lastWritten->next = nullptr;
            } else {
                first_ = nullptr;
            }
            count_ = written;
        }
        for (; *entry; ++entry) {
            Node* added = new Node{last_, nullptr, *entry};
            if (last_) {
                last_->next = added;
            } else {
                first_ = added;
            }
            last_ = added;
            ++count_;
        }
    }

    bool CursorWithin(Node* from) const {
        for (Node* node = from; node; node = node->next) {
            if (node == cursor_) return true;
        }
        return false;
    }

    static void FreeNodesFrom(Node* node) {
        while (node) {
            Node* next = node->next;
            delete node;
            node = next;
        }
    }

    // Quicksort over entries lo..hi as the framework has always done it; the order that equal elements end
    // in follows from exactly these steps.
    void QuickSort(T** array, int lo, int hi, IListCompare<T>* comparator, int context) {
        if (lo >= hi || !comparator) return;
        while (lo < hi) {
            int i = lo;
            int j = hi;
            int m = lo + (hi - lo) / 2;
            T* pivot = array[m];
            for (;;) {
                while (i <= j && !comparator->Compare(this, array[i], pivot, false, context)) ++i;
                while (i <= j && comparator->Compare(this, array[j], pivot, false, context)) --j;
                if (i > j) break;
                T* swap = array[i];
                array[i] = array[j];
                array[j] = swap;
                if (m == j) m = i;
                ++i;
                --j;
            }
            array[m] = array[j];
            array[j] = pivot;
            --j;
            if ((j - lo) < (hi - i)) {
                QuickSort(array, lo, j, comparator, context);
                lo = i;
            } else {
                QuickSort(array, i, hi, comparator, context);
                hi = j;
            }
        }
    }

    Node* cursor_ = nullptr;
    Node* first_ = nullptr;
    Node* last_ = nullptr;
    int count_ = 0;
    std::unique_ptr<platform::MCriticalSection> ownLock_;
    bool lockEnabled_;
    ILockable* externalLock_;
};

// Walks a list without moving the list's cursor. With `lock` set it holds the list's lock (flag 0) for its
// whole life, so no other thread changes the list meanwhile.
template <class T>
class MIDoubleListIterator {
public:
    explicit MIDoubleListIterator(MIDoubleList<T>* list) : list_(list) { First(); }

    MIDoubleListIterator(MIDoubleList<T>* list, IListFilter<T>* filter, bool lock)
        : filter_(filter), holdsLock_(lock && list), list_(list) {
        if (holdsLock_) list_->Lock(MIDoubleList<T>::kIteratorLockFlag);
        First();
    }

    ~MIDoubleListIterator() {
        if (holdsLock_) list_->Unlock(MIDoubleList<T>::kIteratorLockFlag);
    }

    MIDoubleListIterator(const MIDoubleListIterator&) = delete;
    MIDoubleListIterator& operator=(const MIDoubleListIterator&) = delete;

    T* First() {
        current_ = list_ ? list_->first_ : nullptr;
        Skip();
        return Current();
    }

    T* Next() {
        if (!current_) return nullptr;
        current_ = current_->next;
        Skip();
        return Current();
    }

    // The element the iterator stands on, or null.
    T* Current() const { return current_ ? current_->element : nullptr; }

private:
    using Node = typename MIDoubleList<T>::Node;

    void Skip() {
        while (current_ && !MIDoubleList<T>::Accepts(filter_, current_)) current_ = current_->next;
    }

    IListFilter<T>* filter_ = nullptr;
    bool holdsLock_ = false;
    MIDoubleList<T>* list_;
    Node* current_ = nullptr;
};
