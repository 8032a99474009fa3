#include "platform/MainThreadQueue.h"

#include <bit>
#include <limits>
#include <stdexcept>
#include <utility>

namespace thraskvell {

MainThreadQueue::MainThreadQueue(std::size_t realtimeCapacity)
    : _mainThread(std::this_thread::get_id()),
      _ring(std::bit_ceil(std::max<std::size_t>(realtimeCapacity, 2))), _ringMask(_ring.size() - 1) {
    for (std::size_t i = 0; i < _ring.size(); ++i)
        _ring[i].sequence.store(i, std::memory_order_relaxed);
}

MainThreadQueue::~MainThreadQueue() = default;

MainThreadQueue& MainThreadQueue::main() {
    // Never destroyed: audio threads may still post while static destructors run at exit.
    static MainThreadQueue* queue = new MainThreadQueue();
    return *queue;
}

void MainThreadQueue::post(Task task) {
    if (!task) return;
    std::lock_guard lock(_tasksMutex);
    _tasks.push_back(std::move(task));
}

std::size_t MainThreadQueue::drain() {
    _mainThread.store(std::this_thread::get_id(), std::memory_order_relaxed);

    std::deque<Task> tasks;
    {
        std::lock_guard lock(_tasksMutex);
        tasks.swap(_tasks);
    }
    std::size_t ran = 0;
    for (auto& task : tasks) {
        task();
        ++ran;
    }

    // Bounded by what is in the ring now, so a delivery that posts again cannot keep us here.
    const std::size_t waiting =
        _enqueuePos.load(std::memory_order_acquire) - _dequeuePos.load(std::memory_order_relaxed);
    std::uint32_t mailboxId = 0;
    std::uint32_t key = 0;
    for (std::size_t i = 0; i < waiting && popRealtime(mailboxId, key); ++i) {
        auto it = _mailboxes.find(mailboxId);
        if (it == _mailboxes.end()) continue;
        it->second->deliver(key);
        ++ran;
    }
    return ran;
}

bool MainThreadQueue::isMainThread() const {
    return _mainThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

std::size_t MainThreadQueue::pendingCount() const {
    std::size_t count = 0;
    {
        std::lock_guard lock(_tasksMutex);
        count = _tasks.size();
    }
    const std::size_t enq = _enqueuePos.load(std::memory_order_acquire);
    const std::size_t deq = _dequeuePos.load(std::memory_order_acquire);
    return count + (enq >= deq ? enq - deq : 0);
}

std::unique_ptr<MainThreadQueue::Mailbox> MainThreadQueue::makeMailbox(std::size_t keyCount,
                                                                       Delivery deliver) {
    if (keyCount == 0 || keyCount > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("MainThreadQueue::makeMailbox: key count must be between 1 and 2^32-1");
    if (!deliver) throw std::invalid_argument("MainThreadQueue::makeMailbox: empty delivery");
    const std::uint32_t id = _nextMailboxId++;
    if (_nextMailboxId == 0) _nextMailboxId = 1;
    std::unique_ptr<Mailbox> mailbox(new Mailbox(*this, id, keyCount, std::move(deliver)));
    _mailboxes.emplace(id, mailbox.get());
    return mailbox;
}

void MainThreadQueue::unregister(std::uint32_t mailboxId) {
    _mailboxes.erase(mailboxId);
}

bool MainThreadQueue::pushRealtime(std::uint32_t mailboxId, std::uint32_t key) noexcept {
    std::size_t pos = _enqueuePos.load(std::memory_order_relaxed);
    for (;;) {
        RingCell& cell = _ring[pos & _ringMask];
        const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
        const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos);
        if (diff == 0) {
            if (_enqueuePos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                cell.mailboxId = mailboxId;
                cell.key = key;
                cell.sequence.store(pos + 1, std::memory_order_release);
                return true;
            }
        } else if (diff < 0) {
            return false; // full
        } else {
            pos = _enqueuePos.load(std::memory_order_relaxed);
        }
    }
}

bool MainThreadQueue::popRealtime(std::uint32_t& mailboxId, std::uint32_t& key) noexcept {
    const std::size_t pos = _dequeuePos.load(std::memory_order_relaxed);
    RingCell& cell = _ring[pos & _ringMask];
    const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
    if (static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos + 1) < 0) return false;
    mailboxId = cell.mailboxId;
    key = cell.key;
    cell.sequence.store(pos + _ring.size(), std::memory_order_release);
    _dequeuePos.store(pos + 1, std::memory_order_release);
    return true;
}

MainThreadQueue::Mailbox::Mailbox(MainThreadQueue& queue, std::uint32_t id, std::size_t keyCount,
                                  Delivery deliver)
    : _queue(queue), _id(id), _slots(keyCount), _deliver(std::move(deliver)) {}

MainThreadQueue::Mailbox::~Mailbox() {
    _queue.unregister(_id);
}

bool MainThreadQueue::Mailbox::post(std::uint64_t key, float value) noexcept {
    if (key >= _slots.size()) return false;
    Slot& slot = _slots[static_cast<std::size_t>(key)];
    // Sequentially consistent with deliver(): a post that finds the key still waiting is ordered
    // before the delivery's clear, so the delivery reads its value.
    slot.value.store(value, std::memory_order_seq_cst);
    if (slot.pending.exchange(true, std::memory_order_seq_cst)) return true; // coalesced
    if (_queue.pushRealtime(_id, static_cast<std::uint32_t>(key))) return true;
    slot.pending.store(false, std::memory_order_release);
    return false;
}

void MainThreadQueue::Mailbox::deliver(std::uint32_t key) {
    Slot& slot = _slots[key];
    // Cleared before the read: a racing post is either read here or queues the key anew.
    slot.pending.store(false, std::memory_order_seq_cst);
    const float value = slot.value.load(std::memory_order_seq_cst);
    _deliver(key, value);
}

} // namespace thraskvell
