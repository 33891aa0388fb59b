#include "server/cli/DemoGenerator.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/store/StoreTransaction.h"
#include "server/service/TaxpayerNumber.h"

namespace server {
namespace {

// splitmix64: small, fast and the same on every platform, so a seed always gives the same data.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  template <class List>
  const auto& Pick(const List& list) {
    return list[Next() % std::size(list)];
  }

 private:
  uint64_t state_;
};

constexpr const char* kProductBases[] = {
    "Arroz agulhinha tipo 1", "Feijão carioca", "Feijão preto", "Açúcar cristal", "Açúcar mascavo",
    "Café torrado e moído", "Farinha de mandioca", "Farinha de trigo", "Fubá mimoso", "Macarrão espaguete nº 8",
    "Óleo de soja refinado", "Leite UHT integral", "Leite em pó", "Manteiga com sal", "Requeijão cremoso",
    "Queijo coalho", "Queijo minas frescal", "Doce de leite", "Goiabada cascão", "Biscoito de polvilho",
    "Pão de queijo congelado", "Erva-mate para chimarrão", "Tapioca granulada", "Castanha-do-pará",
    "Polpa de açaí", "Rapadura", "Sal refinado iodado", "Extrato de tomate", "Sardinha em óleo",
    "Água mineral sem gás", "Guaraná natural", "Suco de caju", "Vinagre de álcool", "Sabão em barra",
    "Detergente neutro", "Papel higiênico folha dupla", "Creme dental", "Fralda infantil", "Absorvente",
    "Canjica de milho branco"};
constexpr const char* kProductBrands[] = {
    "Três Irmãos", "São Braz", "Boa Safra", "Ouro Verde", "Dona Zefa", "Serra Gaúcha", "Vale do Açu",
    "Sabor de Minas", "Piracanjuba", "Cabocla", "Maranhão", "Flor do Sertão", "Bom Jesus", "Santa Amália",
    "Paraíso", "Itaú do Sul"};
constexpr const char* kProductPacks[] = {"1 kg", "5 kg", "500 g", "250 g", "900 ml", "1 L", "2 L", "200 g",
                                         "fardo 12 un.", "caixa 24 un."};

constexpr const char* kFirstNames[] = {
    "João", "José", "Antônio", "Francisco", "Luís", "Márcia", "Fátima", "Conceição", "Inês", "Sônia",
    "Lúcia", "André", "Sérgio", "Vinícius", "Letícia", "Beatriz", "Caio", "Thaís", "Mônica", "Cláudio",
    "Raimundo", "Edileuza", "Gonçalo", "Aurélio", "Jéssica"};
constexpr const char* kSurnames[] = {
    "da Silva", "Gonçalves", "Araújo", "Conceição", "Magalhães", "Simões", "Brandão", "Falcão",
    "Loureiro", "Assunção", "Patrício", "Sampaio", "Guimarães", "Fontes", "Nóbrega", "Câmara",
    "Lustosa", "Aragão", "Peçanha", "Gusmão"};
constexpr const char* kCompanyKinds[] = {
    "Distribuidora", "Comércio de Alimentos", "Indústria de Laticínios", "Atacadão", "Cooperativa Agrícola",
    "Transportadora", "Moinho", "Supermercados", "Armazém", "Cerealista", "Frigorífico", "Mercearia"};
constexpr const char* kCompanyNames[] = {
    "São João", "Santa Luzia", "Paraná", "Três Corações", "Ipê Amarelo", "Araújo", "Gonçalves",
    "Conceição", "Piauí", "Maranhão", "Iguaçu", "Jequitinhonha", "Guarujá", "Itapuã", "Nossa Senhora",
    "Boa Esperança", "Irmãos Simões", "Vale do Paraíba", "Açores", "Jaraguá"};
constexpr const char* kCompanySuffixes[] = {"Ltda.", "S.A.", "ME", "EIRELI", "Ltda. EPP"};

struct State {
  const char* code;
  const char* city;
};
constexpr State kStates[] = {
    {"SP", "São Paulo"},      {"RJ", "Rio de Janeiro"}, {"MG", "Belo Horizonte"}, {"RS", "Porto Alegre"},
    {"PR", "Curitiba"},       {"BA", "Salvador"},       {"PE", "Recife"},         {"CE", "Fortaleza"},
    {"SC", "Florianópolis"},  {"GO", "Goiânia"},        {"PA", "Belém"},          {"AM", "Manaus"},
    {"ES", "Vitória"},        {"PB", "João Pessoa"},    {"RN", "Natal"},          {"AL", "Maceió"},
    {"MA", "São Luís"},       {"PI", "Teresina"},       {"MT", "Cuiabá"},         {"MS", "Campo Grande"},
    {"DF", "Brasília"},       {"SE", "Aracaju"},        {"RO", "Porto Velho"},    {"TO", "Palmas"},
    {"AC", "Rio Branco"},     {"AP", "Macapá"},         {"RR", "Boa Vista"}};
constexpr const char* kDistricts[] = {"Centro", "Zona Norte", "Zona Sul", "Distrito Industrial", "Aeroporto"};

constexpr int64_t kMaxRowsPerProduct = 3000;
constexpr int64_t kMaxProducts = 50'000'000;

std::string Pad(uint64_t value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return digits;
}

// Cuts text to at most max characters (UTF-8 code points), without a trailing blank.
std::string Fit(std::string text, size_t max) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++chars > max) {
      text.resize(i);
      break;
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string PersonName(Random& r) {
  std::string a = r.Pick(kSurnames);
  std::string b = r.Pick(kSurnames);
  if (a == b) b = "Filho";
  return std::string(r.Pick(kFirstNames)) + " " + a + " " + b;
}

std::string CompanyName(Random& r) {
  if (r.Next() % 4 == 0) {
    return std::string(r.Pick(kSurnames)) + " & " + r.Pick(kSurnames) + " " + r.Pick(kCompanySuffixes);
  }
  return std::string(r.Pick(kCompanyKinds)) + " " + r.Pick(kCompanyNames) + " " + r.Pick(kCompanySuffixes);
}

// Distinct numbers for distinct i (an affine map modulo a power of ten, with a multiplier prime
// to ten), scattered so neighbouring rows do not get neighbouring numbers.
uint64_t Scatter(uint64_t i, uint64_t offset, uint64_t modulus) { return (i * 48271ull + offset) % modulus; }

std::string Cnpj(uint64_t i, uint64_t seed, bool secondEstablishment) {
  return TaxpayerNumber::MakeCnpj(Scatter(i, 10'000'019 + seed % 1000, 100'000'000), secondEstablishment ? 2 : 1);
}

std::string Cpf(uint64_t i, uint64_t seed) {
  const uint64_t base = Scatter(i, 123'456'789 + seed % 1000, 1'000'000'000);
  const std::string digits = Pad(base, 9);
  const bool allEqual = std::all_of(digits.begin(), digits.end(), [&](char c) { return c == digits[0]; });
  return TaxpayerNumber::MakeCpf(allEqual ? Scatter(i + 500'000'000, seed % 1000, 1'000'000'000) : base);
}

}  // namespace

DemoCounts DemoGenerator::Generate(StoreSession& session, const DemoOptions& options) {
  if (options.products < 1 || options.products > kMaxProducts) {
    throw std::invalid_argument("products must be between 1 and " + std::to_string(kMaxProducts));
  }
  if (options.rowsPerProduct < 0 || options.rowsPerProduct > kMaxRowsPerProduct) {
    throw std::invalid_argument("rows per product must be between 0 and " + std::to_string(kMaxRowsPerProduct));
  }
  Random random(options.seed);
  const int64_t perList = (options.rowsPerProduct + 2) / 3;  // most rows of one product in one list
  const int64_t listed = options.products;
  const int64_t productCount = listed + std::max<int64_t>(3, listed / 4);
  const int64_t supplierCount = std::max<int64_t>({12, perList + 4, listed / 20});
  const int64_t clientCount = std::max<int64_t>({12, perList + 4, listed / 10});
  const int64_t branchCount = std::max<int64_t>(10, perList + 2);

  DemoCounts counts;
  StoreTransaction transaction(session, StoreTransaction::Kind::Write);

  // Each table is written by one bulk writer, finished before the next begins.
  std::vector<std::string> productKeys;
  productKeys.reserve(static_cast<size_t>(productCount));
  std::string previousCode;
  auto sink = session.PutMasters(ListKind::Product);
  for (int64_t i = 0; i < productCount; ++i) {
    // Product 1 has a quote in its key; products 2 and 3 share one product code.
    std::string key = i == 1 ? "P'" + Pad(static_cast<uint64_t>(i + 1), 8) : "P" + Pad(static_cast<uint64_t>(i + 1), 9);
    std::string code = i == 3 ? previousCode : std::to_string(1000 + 7 * i + static_cast<int64_t>(random.Next() % 7));
    const std::string name =
        Fit(std::string(random.Pick(kProductBases)) + " " + random.Pick(kProductBrands) + " " + random.Pick(kProductPacks), 50);
    const std::array<std::string_view, 3> row{key, code, name};
    sink->Add(row);
    productKeys.push_back(std::move(key));
    previousCode = std::move(code);
  }
  sink->Finish();
  counts.products = productCount;

  std::vector<std::pair<std::string, std::string>> suppliers;  // key, taxpayer number
  sink = session.PutMasters(ListKind::Supplier);
  for (int64_t i = 0; i < supplierCount; ++i) {
    const bool person = i % 7 == 3;
    std::string key = "FOR" + Pad(static_cast<uint64_t>(i + 1), i == 0 ? 18 : 7);
    std::string number = person ? Cpf(static_cast<uint64_t>(i), options.seed)
                                : Cnpj(static_cast<uint64_t>(i), options.seed, i % 11 == 5);
    const std::string name = Fit(person ? PersonName(random) : CompanyName(random), 40);
    const std::array<std::string_view, 4> row{number, name, person ? "F" : "J", key};
    sink->Add(row);
    suppliers.emplace_back(std::move(key), std::move(number));
  }
  sink->Finish();
  counts.suppliers = supplierCount;

  std::vector<std::pair<std::string, std::string>> clients;
  sink = session.PutMasters(ListKind::Client);
  for (int64_t i = 0; i < clientCount; ++i) {
    const bool person = i % 5 != 0;
    std::string key = "CLI" + Pad(static_cast<uint64_t>(i + 1), i == 0 ? 18 : 7);
    // Clients take numbers after the suppliers' so no number is used twice.
    const uint64_t n = static_cast<uint64_t>(supplierCount + i);
    std::string number = person ? Cpf(n, options.seed) : Cnpj(n, options.seed, false);
    const std::string name = Fit(person ? PersonName(random) : CompanyName(random), 50);
    const std::array<std::string_view, 4> row{number, name, person ? "F" : "J", key};
    sink->Add(row);
    clients.emplace_back(std::move(key), std::move(number));
  }
  sink->Finish();
  counts.clients = clientCount;

  std::vector<std::string> branches;
  sink = session.PutMasters(ListKind::Branch);
  for (int64_t i = 0; i < branchCount; ++i) {
    const State& state = kStates[static_cast<size_t>(i) % std::size(kStates)];
    const int64_t round = i / static_cast<int64_t>(std::size(kStates));
    std::string code = i == 0 ? "0001" : state.code + Pad(static_cast<uint64_t>(round + 1), 2);
    const std::string name =
        Fit(std::string("Filial ") + state.city + (round ? std::string(" ") + kDistricts[round % 5] : ""), 30);
    const std::array<std::string_view, 2> row{code, name};
    sink->Add(row);
    branches.push_back(std::move(code));
  }
  // The head office's code is longer than the branch list's four characters.
  const std::array<std::string_view, 2> headOffice{"MATRIZ01", "Matriz – São Paulo"};
  sink->Add(headOffice);
  sink->Finish();
  counts.branches = branchCount + 1;

  // Each product draws the starts of its suppliers, clients and branches, in that order. The
  // lists are written one after the other (one bulk writer at a time), each pass replaying the
  // same draws, so the rows are those of the lists written side by side.
  const Random pairsStart = random;
  for (const ListKind kind : kRelatedLists) {
    Random draws = pairsStart;
    const size_t slot = static_cast<size_t>(kind) - 1;  // 0 supplier, 1 client, 2 branch
    sink = session.InsertPairs(kind);
    for (int64_t p = 0; p < listed; ++p) {
      const std::string& product = productKeys[static_cast<size_t>(p)];
      const std::array<uint64_t, 3> starts{draws.Next() % static_cast<uint64_t>(supplierCount),
                                           draws.Next() % static_cast<uint64_t>(clientCount),
                                           draws.Next() % static_cast<uint64_t>(branchCount)};
      for (int64_t j = static_cast<int64_t>(slot); j < options.rowsPerProduct; j += 3) {
        const uint64_t k = starts[slot] + static_cast<uint64_t>(j / 3);
        switch (kind) {
          case ListKind::Supplier: {
            const auto& [key, number] = suppliers[k % static_cast<uint64_t>(supplierCount)];
            const std::array<std::string_view, 3> row{product, key, number};
            sink->Add(row);
            break;
          }
          case ListKind::Client: {
            const auto& [key, number] = clients[k % static_cast<uint64_t>(clientCount)];
            const std::array<std::string_view, 3> row{product, key, number};
            sink->Add(row);
            break;
          }
          default: {
            const std::array<std::string_view, 2> row{product, branches[k % static_cast<uint64_t>(branchCount)]};
            sink->Add(row);
          }
        }
      }
    }
    counts.pairs += sink->Finish();
  }
  sink.reset();
  session.MasterDataChanged();
  transaction.Commit();
  return counts;
}

}  // namespace server
