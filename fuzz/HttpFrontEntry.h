// The fuzzing entry point of the server's HTTP front: arbitrary bytes read as a request the way
// a connection reads one (its head, then its body, in pieces of a size the input chooses), with
// the server's limits, then judged by the request policy. Shared by the libFuzzer target
// (http_request_fuzzer, built with clang) and the server tests, which replay the saved inputs.
//
// Promises: a request the parser takes whole returns Outcome::Accepted, one it refuses
// (malformed, over a limit) Outcome::Rejected; no exception escapes but EInvariantBroken, raised
// when a limit did not hold (a head or body read past its limit) or the policy let through what
// it must not (a call that is not a POST to the service's path, a call without the one valid
// token, a coded body).
//
// Thread rules: each call has its own parser; calls may run on several threads at once.
#pragma once

#include <string_view>

#include "fuzz/FuzzEntries.h"

namespace server::fuzz {

// The first byte chooses the size of the pieces (1 to 256 bytes); the rest is the request.
host::fuzz::Outcome FeedHttpRequest(std::string_view bytes);

// The limits the entry reads with.
constexpr std::size_t kFuzzHeaderLimit = 2048;
constexpr std::size_t kFuzzBodyLimit = 4096;

}  // namespace server::fuzz
