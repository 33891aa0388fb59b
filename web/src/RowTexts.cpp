#include "web/src/RowTexts.h"

#include "host/data/ClientDataSet.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "host/data/RowReader.h"

namespace web {

namespace {

std::string DigitsOf(const std::string& text) {
  std::string digits;
  for (const char c : text)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

}  // namespace

RowTexts::RowTexts(host::TDataSet& dataSet) : dataSet_(&dataSet) {
  for (host::TField* f : dataSet.Fields())
    if (f->Visible) fields_.push_back(f);
}

int RowTexts::RowCount() const { return dataSet_->Active() ? dataSet_->RecordCount() : 0; }

std::vector<std::string> RowTexts::Row(int row) const {
  if (fields_.empty()) return {};
  return host::RowReader::Texts(fields_, row);
}

std::string RowTexts::Fold(const std::string& text) {
  // Two-byte UTF-8 Latin-1 letters with accents, folded to their base letter.
  static const char kBase[] = "aaaaaaaceeeeiiiidnooooo/ouuuuyty";  // U+00E0..U+00FF
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xC3 && i + 1 < text.size()) {
      unsigned low = static_cast<unsigned char>(text[i + 1]) & 0x3F;
      // U+00C0..U+00DF (capitals) fold like U+00E0..U+00FF.
      if (low >= 0x20) low -= 0x20;
      out += kBase[low];
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int RowTexts::Find(const std::string& typed, int column, int from) const {
  std::string key = Fold(typed);
  while (!key.empty() && key.front() == ' ') key.erase(0, 1);
  while (!key.empty() && key.back() == ' ') key.pop_back();
  const int n = RowCount();
  if (key.empty() || n == 0) return 0;
  const bool numeric = DigitsOf(key) == key;
  const auto matches = [&](const std::string& cell) {
    if (Fold(cell).starts_with(key)) return true;
    return numeric && DigitsOf(cell).starts_with(key);
  };
  const int first = from < 1 || from > n ? 1 : from;
  for (int i = 0; i < n; ++i) {
    const int row = (first - 1 + i) % n + 1;
    const std::vector<std::string> cells = Row(row);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if ((column < 0 || static_cast<int>(c) == column) && matches(cells[c])) return row;
    }
  }
  return 0;
}

}  // namespace web
