// The fuzzing entry points of the platform's readers: one function per reader that takes
// arbitrary bytes, drives the reader the way the platform uses it, and checks what came out.
// The libFuzzer targets (built with clang) and the regression test binary (built with the
// project's normal compiler) call the same functions, so an input saved by a fuzzer replays
// exactly in the ordinary test run.
//
// Promises of every entry point:
// - An input the reader accepts returns Outcome::Accepted; one it refuses with its documented
//   exception (EPacketError, EFilterError, EWireError/EJsonRpcError, EMaskError) returns
//   Outcome::Rejected. Those exceptions never escape.
// - A broken promise of the reader (a round trip that changes the data, a filter showing a row
//   that does not match, a refused load that changed the record set, ...) raises
//   EInvariantBroken saying which. Any other exception escapes as it is: for a fuzzer both are
//   crashes, for the regression tests both are failures.
//
// Thread rules: each call builds its own record sets and readers; calls may run on several
// threads at once.
#pragma once

#include <span>
#include <stdexcept>
#include <string_view>

namespace host::fuzz {

enum class Outcome { Accepted, Rejected };

// A reader broke one of its documented promises for some input.
class EInvariantBroken : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The bytes as a data packet loaded through SetData: into a record set with a few fields that
// already holds rows (a refused packet must leave them untouched), into a set without fields
// (which takes the packet's), and into both kinds of set while filtered. All must agree on
// accepting it, and an accepted packet must be JSON, come back unchanged from Data(), be
// filterable on its first row's key, and give, after a delete, an insert and an edit, a change
// packet that the service's reader takes back whole.
Outcome FeedDataPacket(std::string_view bytes);

// The bytes as a JSON-RPC request body. A refused request must carry a protocol error code and
// an id that can be echoed in a well-formed response; an accepted one must be JSON and survive
// being written and read again.
Outcome FeedJsonRpcRequest(std::string_view bytes);

// The bytes as a change packet. An accepted packet must be JSON, have rows as wide as its fields
// and survive being written and read again; a refused one's message must hold no control
// character (input it quotes is escaped).
Outcome FeedChangePacket(std::string_view bytes);

// The bytes up to the first line break are an edit mask, the rest a value. The value is
// formatted (FormatMaskText and EditMask::Format must agree and lose no character), shown for
// editing, typed character by character into an empty cell and erased again with backspace.
Outcome FeedEditMask(std::string_view bytes);

// The bytes as a filter expression on a record set with rows. An accepted filter must show
// exactly the rows whose field equals the text, before and after rows are inserted, edited and
// deleted under it.
Outcome FeedFilter(std::string_view bytes);

// One entry point and the name its fuzz target, corpus and saved inputs go by.
struct Entry {
  const char* name;
  Outcome (*feed)(std::string_view bytes);
};

// Every entry point: data_packet, json_rpc, change_packet, edit_mask, filter.
std::span<const Entry> Entries();

}  // namespace host::fuzz
