// ConnectionBudget keeps what the connections hold at once against the edge's limits
// (HttpLimits): the connections open, in all and from each client address, and the bytes of the
// request bodies being received or served. A share is handed out as a move-only handle (a Place,
// a Bytes) that gives it back when destroyed, so a connection that ends by any path returns
// exactly what it held, once.
//
// Accounts are kept per client address (Address), the natural place for a per-address share of
// any of the budgets.
//
// Thread-safe: the connections of every lane take and return shares at once. Not copyable or
// movable. REQUIRES: it outlives every handle it gave.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
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

  // Request bytes held in flight. Move-only.
  class Bytes {
   public:
    Bytes() = default;  // holds nothing
    Bytes(Bytes&& other) noexcept { *this = std::move(other); }
    Bytes& operator=(Bytes&& other) noexcept;
    ~Bytes() { Release(); }
    // Gives the bytes back now. Idempotent.
    void Release();

   private:
    friend class ConnectionBudget;
    ConnectionBudget* budget_ = nullptr;
    size_t count_ = 0;
  };

  // A place for a new connection from ip; one that holds nothing when the connections open in
  // all, or from ip, are at their limit.
  Place Admit(const std::string& ip);

  // Takes bytes from the budget of request bytes in flight; nothing when it would go over.
  std::optional<Bytes> Reserve(size_t bytes);

 private:
  // What one client address holds.
  struct Address {
    size_t connections = 0;
  };

  const HttpLimits limits_;
  std::mutex mutex_;
  size_t connections_ = 0;
  std::map<std::string, Address> addresses_;
  size_t bytesInFlight_ = 0;
};

}  // namespace server::edge
