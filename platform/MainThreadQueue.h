// The main-thread task queue: the stand-in for asynchronous work on the platform's main queue.
//
// Any thread hands work to the main thread here; whoever owns the main loop (the window's idle or
// timer callback, or a test) calls drain() and the work runs there, in the order it was posted.
// Two ways in:
//  - post(closure): for ordinary threads. May allocate and takes a short internal lock.
//  - a Mailbox: for the audio thread and any other thread that must not allocate or block (hosts
//    deliver automation on their render thread, and tree observers run on the writer's thread).
//    A mailbox holds one atomic value per key (a parameter address, say); posting stores the value
//    and, only if the key is not already waiting, pushes (mailbox, key) into a fixed-capacity
//    lock-free ring. Repeated posts for one key before a drain therefore coalesce: the main thread
//    sees the last value posted.
//
// "Main" is the thread that constructed the queue, and from then on the thread that last called
// drain(). Published values (Observable.h) may change only there.
//
// Ownership: MainThreadQueue::main() is the process-wide queue and lives until exit. Other queues
// (tests) are owned by whoever creates them and must outlive their mailboxes and posters.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace thraskvell {

class MainThreadQueue {
public:
    class Mailbox;
    using Task = std::function<void()>;
    using Delivery = std::function<void(std::uint64_t key, float value)>;

    static constexpr std::size_t kDefaultRealtimeCapacity = 4096;

    // Main (the constructing thread becomes main). realtimeCapacity is rounded up to a power of two.
    explicit MainThreadQueue(std::size_t realtimeCapacity = kDefaultRealtimeCapacity);
    ~MainThreadQueue();
    MainThreadQueue(const MainThreadQueue&) = delete;
    MainThreadQueue& operator=(const MainThreadQueue&) = delete;

    // Any. The process-wide queue, created on first use.
    static MainThreadQueue& main();

    // Any, not the audio thread (allocates, locks). Empty tasks are ignored.
    void post(Task task);

    // Main; the calling thread becomes main. Runs the tasks and mailbox deliveries that were waiting
    // when it was called (work posted meanwhile waits for the next drain) and returns how many ran.
    std::size_t drain();

    // Any.
    bool isMainThread() const;
    // Any. Ordinary tasks plus waiting mailbox keys; a hint, as other threads may post meanwhile.
    std::size_t pendingCount() const;

    // Main. A mailbox for keys 0 … keyCount-1 whose deliveries run `deliver` on the main thread.
    // Throws std::invalid_argument for keyCount 0 or an empty delivery.
    std::unique_ptr<Mailbox> makeMailbox(std::size_t keyCount, Delivery deliver);

private:
    struct RingCell {
        std::atomic<std::size_t> sequence{0};
        std::uint32_t mailboxId = 0;
        std::uint32_t key = 0;
    };

    bool pushRealtime(std::uint32_t mailboxId, std::uint32_t key) noexcept;
    bool popRealtime(std::uint32_t& mailboxId, std::uint32_t& key) noexcept;
    void unregister(std::uint32_t mailboxId);

    std::atomic<std::thread::id> _mainThread;

    mutable std::mutex _tasksMutex;
    std::deque<Task> _tasks; // guarded by _tasksMutex

    // Bounded multi-producer queue (Vyukov): producers claim a cell by compare-and-swap on the
    // enqueue position, then publish it through the cell's sequence number. Consumer: main only.
    std::vector<RingCell> _ring;
    std::size_t _ringMask = 0;
    std::atomic<std::size_t> _enqueuePos{0};
    std::atomic<std::size_t> _dequeuePos{0};

    // Main only.
    std::unordered_map<std::uint32_t, Mailbox*> _mailboxes;
    std::uint32_t _nextMailboxId = 1;
};

// A coalescing per-key channel into a MainThreadQueue. Created and destroyed on the main thread;
// posting stops before it is destroyed (posts still in the ring for a destroyed mailbox are dropped
// at the next drain).
class MainThreadQueue::Mailbox {
public:
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Any, including audio: no allocation, lock, system call or exception. Returns false for a key
    // outside 0 … keyCount-1 (ignored) or when the ring is full (the value is kept, delivery waits
    // for the next post of that key).
    bool post(std::uint64_t key, float value) noexcept;

    // Any.
    std::size_t keyCount() const { return _slots.size(); }

private:
    friend class MainThreadQueue;
    struct Slot {
        std::atomic<float> value{0.0f};
        std::atomic<bool> pending{false};
    };

    Mailbox(MainThreadQueue& queue, std::uint32_t id, std::size_t keyCount, Delivery deliver);
    // Main: clears the key's pending flag, then delivers its latest value.
    void deliver(std::uint32_t key);

    MainThreadQueue& _queue;
    std::uint32_t _id;
    std::vector<Slot> _slots;
    Delivery _deliver;
};

} // namespace thraskvell
