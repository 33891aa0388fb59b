// DemoGenerator writes a consistent demo data set into a store: master products, suppliers,
// clients and branches with realistic Brazilian names (accents included), valid CNPJ (person type
// "J") and CPF (person type "F") numbers stored as digits only, and for each of the first
// `products` products `rowsPerProduct` related rows spread over the supplier, client and branch
// lists (row j goes to list j mod 3). More products, suppliers and clients exist in the master
// data than are used, so pick lists offer entries that can still be added.
//
// The data holds the awkward cases the screen must cope with: a product key with a single quote,
// two products sharing one product code, a supplier key of the full 21 characters, a branch code
// longer than four characters (master data only, since the branch list holds four).
//
// The output depends only on the options (a seeded generator of our own, not the standard
// library's distributions). Everything is written in one transaction through the store's bulk
// writers (on PostgreSQL, COPY), so a million related rows take seconds; a failure leaves nothing.
//
// Stateless; Generate runs on the caller's thread with the session it is given.
#pragma once

#include <cstdint>

#include "server/store/Store.h"

namespace server {

struct DemoOptions {
  int64_t products = 20;       // products with related rows
  int64_t rowsPerProduct = 6;  // related rows per such product
  uint64_t seed = 7310;
};

// What Generate wrote.
struct DemoCounts {
  int64_t products = 0;  // master products (listed and not)
  int64_t suppliers = 0;
  int64_t clients = 0;
  int64_t branches = 0;
  int64_t pairs = 0;  // related rows over the three lists
};

class DemoGenerator {
 public:
  DemoGenerator() = delete;

  // Writes the demo set. REQUIRES: options.products >= 1, options.rowsPerProduct >= 0.
  // Raises std::invalid_argument on bad options, EStoreError when the store fails (nothing is
  // written then).
  static DemoCounts Generate(StoreSession& session, const DemoOptions& options);
};

}  // namespace server
