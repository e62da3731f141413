// Sorted insertion, restamping and the node pool of the older entry's event queue.
#include "event_queue.h"

#include <new>

namespace v1 {

namespace {

void free_list(QueuedEvent* node) {
    while (node) {
        QueuedEvent* next = node->next;
        delete node;
        node = next;
    }
}

}  // namespace

EventQueue::~EventQueue() {
    free_list(m_head);
    free_list(m_free);
}

void EventQueue::reserve(int n) {
    for (int i = 0; i < n; ++i) {
        auto* node = new (std::nothrow) QueuedEvent{};
        if (!node) return;
        release(node);
    }
}

bool EventQueue::push(const MVEvent& e) {
    QueuedEvent* node = m_free;
    if (node) {
        m_free = node->next;
    } else {
        node = new (std::nothrow) QueuedEvent{};
        if (!node) return false;
    }
    node->event = e;
    QueuedEvent** link = &m_head;
    while (*link && !clock_before(e.time_stamp, (*link)->event.time_stamp)) link = &(*link)->next;
    node->next = *link;
    *link = node;
    return true;
}

QueuedEvent* EventQueue::pop() {
    QueuedEvent* node = m_head;
    if (node) m_head = node->next;
    return node;
}

void EventQueue::release(QueuedEvent* node) {
    node->next = m_free;
    m_free = node;
}

void EventQueue::restamp_before(int32_t clock) {
    // The list is sorted, so the stale events are a prefix and stay sorted once moved to clock.
    for (QueuedEvent* n = m_head; n && clock_before(n->event.time_stamp, clock); n = n->next) {
        n->event.time_stamp = clock;
    }
}

}  // namespace v1
