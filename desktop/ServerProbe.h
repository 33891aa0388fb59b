// ServerProbe checks, before a screen is opened, that something accepts TCP connections at the
// application server's address, so the user gets one clear message ("O servidor de aplicação não
// responde em HOST:PORTA: conexão recusada") instead of a screen that fails half-way through its
// creation. It only connects and closes; it sends nothing.
//
// Thread-safe: it holds no state. Not instantiable.
#pragma once

#include <chrono>
#include <string>

namespace desktop {

class ServerProbe {
 public:
  ServerProbe() = delete;

  // True when a TCP connection to host:port succeeds within `timeout`. On false, `reason` (when
  // not null) says why, in Portuguese.
  static bool Reachable(const std::string& host, int port, std::chrono::milliseconds timeout,
                        std::string* reason = nullptr);
};

}  // namespace desktop
