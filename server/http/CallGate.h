// CallGate admits the calls that run at once: at most 8 × `workers` calls under way (one more is
// answered 503 at once rather than queued), of which at most `workers` answer with a stream (a
// streamed answer holds a store session until it is sent). Once closed, when the server stops, it
// admits nothing more, and WaitIdle waits for the calls under way to end. A call's place is a
// move-only Slot that leaves the gate when destroyed, so a call ends by any path exactly once.
//
// Thread-safe. Not copyable or movable. REQUIRES: it outlives every slot.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace server::edge {

class CallGate {
 public:
  explicit CallGate(size_t workers) : workers_(workers) {}
  CallGate(const CallGate&) = delete;
  CallGate& operator=(const CallGate&) = delete;

  // One call under way, and perhaps one of the streamed answers. Move-only.
  class Slot {
   public:
    Slot() = default;  // holds nothing
    Slot(Slot&& other) noexcept { *this = std::move(other); }
    Slot& operator=(Slot&& other) noexcept;
    ~Slot() { Leave(); }

    // Also takes one of the places of streamed answers; false when all are taken (the call keeps
    // its slot). REQUIRES: the slot holds a call and no stream yet.
    bool TakeStream();
    // Ends the call now. Idempotent.
    void Leave();

   private:
    friend class CallGate;
    CallGate* gate_ = nullptr;
    bool stream_ = false;
  };

  enum class Entry { Entered, Stopping, Busy };
  // Begins a call into slot (Entered), or says why not. REQUIRES: slot holds nothing.
  Entry Enter(Slot& slot);

  // Admits no more calls. Returns false when it was closed already.
  bool Close();
  bool Closed();

  // Returns once no call is under way.
  void WaitIdle();

 private:
  const size_t workers_;
  std::mutex mutex_;
  std::condition_variable idle_;
  size_t calls_ = 0;
  size_t streams_ = 0;
  bool closed_ = false;
};

}  // namespace server::edge
