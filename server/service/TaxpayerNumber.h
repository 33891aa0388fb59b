// TaxpayerNumber builds and checks Brazilian taxpayer numbers as this system stores them: digits
// only, CNPJ (companies, person type "J") with 14 digits and CPF (persons, person type "F") with
// 11, the last two being check digits (modulo 11).
//
// Stateless; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace server {

class TaxpayerNumber {
 public:
  TaxpayerNumber() = delete;

  // The CNPJ of company root (8 digits, taken modulo 10^8) and establishment (4 digits, modulo
  // 10^4), with its two check digits.
  static std::string MakeCnpj(uint64_t root, uint32_t establishment);

  // The CPF with this 9-digit base (taken modulo 10^9) and its two check digits. A base whose
  // digits are all equal gives a number tax offices reject; callers avoid such bases.
  static std::string MakeCpf(uint64_t base);

  // True when text is 14 digits with correct check digits.
  static bool IsValidCnpj(std::string_view text);

  // True when text is 11 digits, not all equal, with correct check digits.
  static bool IsValidCpf(std::string_view text);
};

}  // namespace server
