// The remote service of the wire protocol: its name, which the screen's connection carries as its
// server name, and the HTTP path under which the server answers it. Every program that serves or
// calls the service takes the name from here, so it is written once.
#pragma once

#include <string_view>

namespace host::wire {

// The service's name, also its HTTP path without the leading slash.
inline constexpr std::string_view kServiceName = "PDI07310.rdmProdDesoneraImpos";
// The HTTP path of the service: "/" followed by its name.
inline constexpr std::string_view kServicePath = "/PDI07310.rdmProdDesoneraImpos";

static_assert(kServicePath.substr(1) == kServiceName);

}  // namespace host::wire
