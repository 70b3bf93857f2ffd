// CTRing: a circular doubly linked ring of records with a cursor, searched
// by handle.  The cursor stands on the record last added, on the node a
// search reached, or on the successor of the record last removed.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>

#include "platform/sync.h"

namespace zbx::api {

// T has a `handle` member compared by value.  Every operation takes the
// ring's critical section itself; it is recursive, so a caller may hold it
// around several operations to make them one step.
template <typename T>
class CTRing {
public:
    struct Node {
        T data;
        Node* prev;
        Node* next;
    };

    CTRing() = default;
    // Frees the nodes; what the records point to stays alive.
    ~CTRing() {
        while (remove_current()) {
        }
    }
    CTRing(const CTRing&) = delete;
    CTRing& operator=(const CTRing&) = delete;

    // Inserts a copy of `record` just before the cursor and makes it the
    // cursor.  False, with the ring unchanged, when no node can be allocated.
    virtual bool Add(const T& record) {
        Node* node = new (std::nothrow) Node{record, nullptr, nullptr};
        if (node == nullptr) return false;
        std::lock_guard lock(lock_);
        if (head_ == nullptr) {
            node->prev = node;
            node->next = node;
            count_ = 1;
        } else {
            node->prev = head_->prev;
            node->next = head_;
            head_->prev->next = node;
            head_->prev = node;
            ++count_;
        }
        head_ = node;
        return true;
    }

    // Walks forward from the cursor, moving it, until a record with
    // `handle` is under it (true) or the node whose handle equals that of
    // the starting node's predecessor is reached (false; the cursor stays
    // there).
    [[nodiscard]] bool find(std::uint32_t handle) {
        std::lock_guard lock(lock_);
        if (head_ == nullptr) return false;
        const std::uint32_t stop = head_->prev->data.handle;
        if (head_->data.handle == handle) return true;
        for (;;) {
            if (head_->data.handle == stop) return false;
            head_ = head_->next;
            if (head_->data.handle == handle) return true;
        }
    }

    // True when any record has `handle`; the cursor does not move.
    [[nodiscard]] bool contains(std::uint32_t handle) const {
        std::lock_guard lock(lock_);
        if (head_ == nullptr) return false;
        const Node* node = head_;
        do {
            if (node->data.handle == handle) return true;
            node = node->next;
        } while (node != head_);
        return false;
    }

    // Unlinks and frees the cursor node; the cursor moves to its successor.
    // False when the ring is empty.
    bool remove_current() {
        std::unique_lock lock(lock_);
        Node* node = head_;
        if (node == nullptr) return false;
        if (node->next == node) {
            count_ = 0;
            head_ = nullptr;
        } else {
            --count_;
            node->prev->next = node->next;
            node->next->prev = node->prev;
            head_ = node->next;
        }
        lock.unlock();
        delete node;
        return true;
    }

    // The record under the cursor, or null; valid while the lock is held.
    [[nodiscard]] T* current() { return head_ != nullptr ? &head_->data : nullptr; }
    [[nodiscard]] std::uint32_t count() const {
        std::lock_guard lock(lock_);
        return count_;
    }
    [[nodiscard]] platform::CriticalSection& lock() const { return lock_; }

private:
    Node* head_ = nullptr;
    std::uint32_t count_ = 0;
    mutable platform::CriticalSection lock_;
};

}  // namespace zbx::api
