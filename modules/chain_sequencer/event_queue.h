// The time-ordered event queue of the older entry: a sorted list of copies of the host's events.
#pragma once

#include <cstdint>

#include "mv_sdk2/mv_boundary.h"

namespace v1 {

struct QueuedEvent {
    MVEvent event;
    QueuedEvent* next;
};

// Sample clocks are 32-bit and wrap; a stamp counts as earlier when the signed distance is negative.
inline bool clock_before(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)) < 0;
}
inline int32_t clock_distance(int32_t from, int32_t to) {
    return static_cast<int32_t>(static_cast<uint32_t>(to) - static_cast<uint32_t>(from));
}

class EventQueue {
public:
    EventQueue() = default;
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Makes room for n events in advance, so that queueing on the audio thread does not allocate.
    void reserve(int n);

    // Copies the event in after every event with the same or an earlier stamp. False when no
    // memory was left for it.
    bool push(const MVEvent& e);

    bool empty() const { return m_head == nullptr; }
    const QueuedEvent* front() const { return m_head; }
    // Unlinks the first event; the caller hands it back with release.
    QueuedEvent* pop();
    void release(QueuedEvent* node);

    // Moves every event stamped before clock to clock, keeping their order.
    void restamp_before(int32_t clock);

private:
    QueuedEvent* m_head = nullptr;
    QueuedEvent* m_free = nullptr;
};

}  // namespace v1
