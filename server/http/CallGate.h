// CallGate admits the calls that run at once and keeps what their answers hold until the clients
// take them:
//   - at most 8 × `workers` calls under way (one more is answered 503 at once rather than
//     queued). A call holds its place from its admission until its answer is handed to the
//     network, not while a slow client takes it;
//   - at most `workers` streamed answers (a streamed answer holds a store session until it is
//     sent), and at most HttpLimits::maxStreamsPerClient of them for one client address;
//   - the answer bytes handed to send and not yet taken, counted in all and for each client
//     address (AnswerBytes). While either is over its limit (HttpLimits::maxAnswerBytes,
//     maxAnswerBytesPerClient) no new call is admitted for that address (all of them, for the
//     total), so a client that asks and never reads cannot pile answers up in the server's
//     memory.
// Once closed, when the server stops, it admits nothing more, and WaitIdle waits for the calls,
// streams and answers under way to end. Each share is a move-only handle (a Slot, an AnswerBytes)
// that gives it back when destroyed, so a call ends by any path exactly once.
//
// Thread-safe. Not copyable or movable. REQUIRES: it outlives every handle it gave.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "server/http/HttpOptions.h"

namespace server::edge {

class CallGate {
 public:
  CallGate(size_t workers, const HttpLimits& limits) : workers_(workers), limits_(limits) {}
  CallGate(const CallGate&) = delete;
  CallGate& operator=(const CallGate&) = delete;

  // One call under way, and perhaps one of the streamed answers. Move-only.
  class Slot {
   public:
    Slot() = default;  // holds nothing
    Slot(Slot&& other) noexcept { *this = std::move(other); }
    Slot& operator=(Slot&& other) noexcept;
    ~Slot() { Leave(); }

    // Also takes one of the places of streamed answers; false when all are taken, or the
    // address's share is (the call keeps its place). REQUIRES: the slot holds a call and no
    // stream yet.
    bool TakeStream();
    bool HasStream() const { return stream_; }
    // The call's answer is handed to the network: its call place is free for another call, its
    // stream place (if any) is kept until Leave. Idempotent.
    void Handed();
    // Ends the call and its stream now. Idempotent.
    void Leave();

   private:
    friend class CallGate;
    CallGate* gate_ = nullptr;
    std::string ip_;
    bool call_ = false;
    bool stream_ = false;
  };

  // Answer bytes handed to send and not yet taken by the client. Move-only.
  class AnswerBytes {
   public:
    AnswerBytes() = default;  // holds nothing
    AnswerBytes(AnswerBytes&& other) noexcept { *this = std::move(other); }
    AnswerBytes& operator=(AnswerBytes&& other) noexcept;
    ~AnswerBytes() { Release(); }
    // The client took them (or went away). Idempotent.
    void Release();

   private:
    friend class CallGate;
    CallGate* gate_ = nullptr;
    std::string ip_;
    size_t count_ = 0;
  };

  enum class Entry {
    Entered,
    Stopping,
    Busy,            // every call place is taken
    AnswersPending,  // answers not yet taken are over the limit, in all or for the address
  };
  // Begins a call from the client address ip into slot (Entered), or says why not.
  // REQUIRES: slot holds nothing.
  Entry Enter(Slot& slot, const std::string& ip);

  // Counts bytes of an answer for ip as handed to send until the handle is released; never
  // refused (the answer exists already), but it keeps new calls out while over the limits.
  AnswerBytes Hold(const std::string& ip, size_t bytes);

  // Admits no more calls. Returns false when it was closed already.
  bool Close();
  bool Closed();

  // Returns once no call, stream or held answer is under way.
  void WaitIdle();

 private:
  struct Address {
    size_t streams = 0;
    size_t answerBytes = 0;
    size_t holders = 0;  // slots and answer handles naming the address
  };
  // Forgets an address nothing names any more. REQUIRES: mutex_ held.
  void Unname(const std::string& ip);
  // REQUIRES: mutex_ held.
  bool Idle() const { return calls_ == 0 && streams_ == 0 && answers_ == 0; }

  const size_t workers_;
  const HttpLimits limits_;
  std::mutex mutex_;
  std::condition_variable idle_;
  size_t calls_ = 0;
  size_t streams_ = 0;
  size_t answers_ = 0;  // answer handles held
  size_t answerBytes_ = 0;
  std::map<std::string, Address> addresses_;
  bool closed_ = false;
};

}  // namespace server::edge
