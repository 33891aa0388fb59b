// ConnectionBudget keeps what the connections hold at once against the edge's limits
// (HttpLimits): the connections open, in all and from each client address, and the request bytes
// being received or served, in all and from each client address. A share is handed out as a
// move-only handle (a Place, a Bytes) that gives it back when destroyed, so a connection that ends
// by any path returns exactly what it held, once.
//
// Request bytes are charged as they arrive (Bytes::Add), never by what a head announces: a head
// that declares a large body, or a chunked one, and then sends nothing holds nothing.
//
// Thread-safe: the connections of every lane take and return shares at once. Not copyable or
// movable. REQUIRES: it outlives every handle it gave.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "server/http/HttpOptions.h"

namespace server::edge {

class ConnectionBudget {
 public:
  explicit ConnectionBudget(const HttpLimits& limits) : limits_(limits) {}
  ConnectionBudget(const ConnectionBudget&) = delete;
  ConnectionBudget& operator=(const ConnectionBudget&) = delete;

  // One open connection, counted in all and for its address. Move-only.
  class Place {
   public:
    Place() = default;  // holds nothing
    Place(Place&& other) noexcept { *this = std::move(other); }
    Place& operator=(Place&& other) noexcept;
    ~Place() { Leave(); }
    explicit operator bool() const { return budget_ != nullptr; }

   private:
    friend class ConnectionBudget;
    void Leave();
    ConnectionBudget* budget_ = nullptr;
    std::string ip_;
  };

  // The request bytes one request holds, grown as they arrive. Move-only.
  class Bytes {
   public:
    Bytes() = default;  // holds nothing, and can take nothing
    Bytes(Bytes&& other) noexcept { *this = std::move(other); }
    Bytes& operator=(Bytes&& other) noexcept;
    ~Bytes() { Release(); }
    // Takes n more bytes; false (taking nothing) when the bytes held in all, or by the address,
    // would go over their limit.
    bool Add(size_t n);
    // Gives every byte back now. Idempotent.
    void Release();
    size_t Count() const { return count_; }

   private:
    friend class ConnectionBudget;
    ConnectionBudget* budget_ = nullptr;
    std::string ip_;
    size_t count_ = 0;
  };

  // Why a connection was not admitted.
  enum class Door { Open, TotalFull, AddressFull };

  // A place for a new connection from ip; one that holds nothing when the connections open in
  // all, or from ip, are at their limit (why says which, when given). beyondTotal lets the total
  // go that far over its limit, for a connection admitted while others are being closed to make
  // room for it.
  Place Admit(const std::string& ip, Door* why = nullptr, size_t beyondTotal = 0);

  // An empty charge of request bytes for a request from ip, which holds a Place.
  Bytes Charge(const std::string& ip);

 private:
  // What one client address holds.
  struct Address {
    size_t connections = 0;
    size_t bytes = 0;
  };
  void Forget(std::map<std::string, Address>::iterator it);

  const HttpLimits limits_;
  std::mutex mutex_;
  size_t connections_ = 0;
  std::map<std::string, Address> addresses_;
  size_t bytesInFlight_ = 0;
};

}  // namespace server::edge
