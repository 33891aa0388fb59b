// The package information of PKG_PDI07310: its units, the host packages it requires (loaded by
// the host before the module), and its version record.
#pragma once

#include <array>

namespace pdi07310 {

struct VersionRecord {
  const char* language;  // "pt-BR"
  int codePage;          // 1252
  const char* fileVersion;
  const char* productVersion;
  std::array<int, 4> numericVersion;
};

struct PackageInfo {
  const char* packageUnit;
  const char* containedUnit;
  const char* startupUnit;
  std::array<const char*, 7> requiredPackages;
  VersionRecord version;
  const char* descriptionResource;
};

inline constexpr PackageInfo kPackageInfo = {
    .packageUnit = "Pkg_PDI07310",
    .containedUnit = "Cli_PDI07310",
    .startupUnit = "Pkg_PDI07310",
    .requiredPackages = {"host.runtime", "host.controls", "host.data", "host.reports", "host.lib",
                         "host.screens", "pdi.family"},
    .version = {.language = "pt-BR",
                .codePage = 1252,
                .fileVersion = "6.00.003",
                .productVersion = "6.00.003",
                .numericVersion = {6, 0, 3, 0}},
    .descriptionResource = "TFRMPRODDESONERAIMPOS",
};

}  // namespace pdi07310
