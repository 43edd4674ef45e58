// A list that any thread may post additions and removals to while one
// thread (the render thread) reads it. Posting takes no lock: events go onto
// a pending list with an atomic compare-and-swap, and the reading thread
// applies them with update() at a moment of its own choosing, so the list it
// walks never changes under it. Nodes are recycled through a free list and
// returned to the C allocator only when the list is destroyed, so once warm
// the reading side never allocates.
#pragma once

#include <MacTypes.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <new>
#include <type_traits>

template <class T> class TThreadSafeList {
    // Nodes are plain C blocks, freed without running destructors.
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    enum EventType : UInt32 { kAdd = 0, kRemove = 1 };

    struct Node {
        Node* mNext;
        EventType mEventType;
        T mObject;
    };

    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = T*;
        using reference = T&;

        iterator() noexcept = default;
        explicit iterator(Node* n) noexcept : mNode(n) {}
        T& operator*() const noexcept { return mNode->mObject; }
        T* operator->() const noexcept { return &mNode->mObject; }
        iterator& operator++() noexcept {
            mNode = mNode->mNext;
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator old = *this;
            mNode = mNode->mNext;
            return old;
        }
        bool operator==(const iterator& o) const noexcept { return mNode == o.mNode; }
        bool operator!=(const iterator& o) const noexcept { return mNode != o.mNode; }

    private:
        Node* mNode = nullptr;
    };

    TThreadSafeList() = default;
    TThreadSafeList(const TThreadSafeList&) = delete;
    TThreadSafeList& operator=(const TThreadSafeList&) = delete;

    ~TThreadSafeList() {
        FreeChain(mActiveList);
        FreeChain(mPendingList.exchange(nullptr));
        FreeChain(mFreeList.exchange(nullptr));
    }

    // Posts an addition; applied by the next update(). Any thread.
    void deferred_add(const T& obj) { PostEvent(kAdd, obj); }
    // Posts a removal; applied by the next update(). Any thread.
    void deferred_remove(const T& obj) { PostEvent(kRemove, obj); }

    // Applies the posted events in the order they were posted. Reading thread
    // only. An addition of an object already active is dropped; a removal
    // unlinks the first equal active object.
    void update() noexcept {
        Node* chain = mPendingList.exchange(nullptr, std::memory_order_acq_rel);
        if (chain == nullptr) {
            return;
        }
        // The pending list is newest first.
        Node* ordered = nullptr;
        while (chain != nullptr) {
            Node* next = chain->mNext;
            chain->mNext = ordered;
            ordered = chain;
            chain = next;
        }
        while (ordered != nullptr) {
            Node* event = ordered;
            ordered = ordered->mNext;
            event->mNext = nullptr;
            if (event->mEventType == kAdd) {
                Node** link = &mActiveList;
                bool present = false;
                while (*link != nullptr) {
                    if ((*link)->mObject == event->mObject) {
                        present = true;
                        break;
                    }
                    link = &(*link)->mNext;
                }
                if (present) {
                    PushFree(event);
                } else {
                    *link = event;
                }
            } else {
                for (Node** link = &mActiveList; *link != nullptr; link = &(*link)->mNext) {
                    if ((*link)->mObject == event->mObject) {
                        Node* found = *link;
                        *link = found->mNext;
                        PushFree(found);
                        break;
                    }
                }
                PushFree(event);
            }
        }
    }

    // The active objects in order of addition. Reading thread only.
    iterator begin() const noexcept { return iterator(mActiveList); }
    iterator end() const noexcept { return iterator(nullptr); }

    // A node from the free list, or a new one when it is empty. Raises
    // std::bad_alloc when memory is exhausted.
    Node* AllocNode() {
        Node* taken = mFreeList.exchange(nullptr, std::memory_order_acq_rel);
        if (taken == nullptr) {
            void* mem = std::malloc(sizeof(Node));
            if (mem == nullptr) {
                throw std::bad_alloc();
            }
            return static_cast<Node*>(mem);
        }
        Node* rest = taken->mNext;
        if (rest != nullptr) {
            Node* last = rest;
            while (last->mNext != nullptr) {
                last = last->mNext;
            }
            Node* head = mFreeList.load(std::memory_order_acquire);
            do {
                last->mNext = head;
            } while (!mFreeList.compare_exchange_weak(head, rest, std::memory_order_acq_rel,
                                                      std::memory_order_acquire));
        }
        return taken;
    }

private:
    void PostEvent(EventType kind, const T& obj) {
        Node* node = AllocNode();
        node->mEventType = kind;
        new (&node->mObject) T(obj);
        Push(mPendingList, node);
    }

    void PushFree(Node* node) noexcept { Push(mFreeList, node); }

    static void Push(std::atomic<Node*>& head, Node* node) noexcept {
        Node* old = head.load(std::memory_order_acquire);
        do {
            node->mNext = old;
        } while (!head.compare_exchange_weak(old, node, std::memory_order_acq_rel,
                                             std::memory_order_acquire));
    }

    static void FreeChain(Node* n) noexcept {
        while (n != nullptr) {
            Node* next = n->mNext;
            std::free(n);
            n = next;
        }
    }

    Node* mActiveList = nullptr;
    std::atomic<Node*> mPendingList{nullptr};
    std::atomic<Node*> mFreeList{nullptr};
};
