#include "server/service/TaxpayerNumber.h"

#include <algorithm>

namespace server {
namespace {

// Zero-padded decimal of value modulo 10^width.
std::string Digits(uint64_t value, int width) {
  std::string out(static_cast<size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i) {
    out[static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out;
}

char CheckDigit(std::string_view digits, const int* weights) {
  int sum = 0;
  for (size_t i = 0; i < digits.size(); ++i) sum += (digits[i] - '0') * weights[i];
  const int rest = sum % 11;
  return static_cast<char>('0' + (rest < 2 ? 0 : 11 - rest));
}

constexpr int kCnpjFirst[] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
constexpr int kCnpjSecond[] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
constexpr int kCpfFirst[] = {10, 9, 8, 7, 6, 5, 4, 3, 2};
constexpr int kCpfSecond[] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2};

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string TaxpayerNumber::MakeCnpj(uint64_t root, uint32_t establishment) {
  std::string n = Digits(root, 8) + Digits(establishment, 4);
  n += CheckDigit(n, kCnpjFirst);
  n += CheckDigit(n, kCnpjSecond);
  return n;
}

std::string TaxpayerNumber::MakeCpf(uint64_t base) {
  std::string n = Digits(base, 9);
  n += CheckDigit(n, kCpfFirst);
  n += CheckDigit(n, kCpfSecond);
  return n;
}

bool TaxpayerNumber::IsValidCnpj(std::string_view text) {
  if (text.size() != 14 || !AllDigits(text)) return false;
  return text[12] == CheckDigit(text.substr(0, 12), kCnpjFirst) &&
         text[13] == CheckDigit(text.substr(0, 13), kCnpjSecond);
}

bool TaxpayerNumber::IsValidCpf(std::string_view text) {
  if (text.size() != 11 || !AllDigits(text)) return false;
  if (std::all_of(text.begin(), text.end(), [&](char c) { return c == text[0]; })) return false;
  return text[9] == CheckDigit(text.substr(0, 9), kCpfFirst) && text[10] == CheckDigit(text.substr(0, 10), kCpfSecond);
}

}  // namespace server
