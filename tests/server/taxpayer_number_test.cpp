#include "server/service/TaxpayerNumber.h"

#include <gtest/gtest.h>

namespace server {
namespace {

TEST(TaxpayerNumber, KnownNumbersCheck) {
  EXPECT_TRUE(TaxpayerNumber::IsValidCnpj("11222333000181"));
  EXPECT_TRUE(TaxpayerNumber::IsValidCpf("52998224725"));
  EXPECT_FALSE(TaxpayerNumber::IsValidCnpj("11222333000182"));
  EXPECT_FALSE(TaxpayerNumber::IsValidCpf("52998224726"));
  EXPECT_FALSE(TaxpayerNumber::IsValidCpf("11111111111"));  // right digits, refused by rule
  EXPECT_FALSE(TaxpayerNumber::IsValidCnpj("11.222.333/0001-81"));
  EXPECT_FALSE(TaxpayerNumber::IsValidCpf("5299822472"));
  EXPECT_FALSE(TaxpayerNumber::IsValidCnpj(""));
}

TEST(TaxpayerNumber, MadeNumbersCheckAndKeepTheirBase) {
  EXPECT_EQ(TaxpayerNumber::MakeCnpj(11222333, 1), "11222333000181");
  EXPECT_EQ(TaxpayerNumber::MakeCpf(529982247), "52998224725");
  for (uint64_t i = 0; i < 2000; ++i) {
    const uint64_t base = i * 7919 + 13;
    EXPECT_TRUE(TaxpayerNumber::IsValidCnpj(TaxpayerNumber::MakeCnpj(base, static_cast<uint32_t>(i % 3 + 1))));
    const std::string cpf = TaxpayerNumber::MakeCpf(base * 11);
    if (cpf.find_first_not_of(cpf[0]) != std::string::npos) {
      EXPECT_TRUE(TaxpayerNumber::IsValidCpf(cpf)) << cpf;
    }
  }
  // Short bases are zero-padded to their width.
  EXPECT_EQ(TaxpayerNumber::MakeCpf(1).substr(0, 9), "000000001");
}

}  // namespace
}  // namespace server
