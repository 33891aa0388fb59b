#include "host/net/NetExchange.h"

#include <arpa/inet.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "host/net/AnswerDecoder.h"

namespace host {

namespace {

constexpr const char* kOutOfMemory = "memória insuficiente para receber a resposta do servidor";

// The message for an answer over the cap.
std::string TooLarge(std::uint64_t cap) {
  return "a resposta do servidor excede o limite de " + std::to_string(cap) + " bytes; recebimento interrompido";
}

char Lower(char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

ServerHost ServerHost::Parse(std::string_view text) {
  ServerHost out;
  for (const std::string_view scheme : {std::string_view("https://"), std::string_view("http://")}) {
    if (text.size() >= scheme.size() && SameWord(text.substr(0, scheme.size()), scheme)) {
      out.tls = scheme.size() == 8;
      text.remove_prefix(scheme.size());
      break;
    }
  }
  if (!text.empty() && text.back() == '/') text.remove_suffix(1);
  out.name = std::string(text);
  return out;
}

bool ServerHost::IsLoopback() const {
  std::string host = name;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  std::transform(host.begin(), host.end(), host.begin(), Lower);
  if (host == "localhost") return true;
  unsigned char v4[4];
  if (::inet_pton(AF_INET, host.c_str(), v4) == 1) return v4[0] == 127;
  unsigned char v6[16];
  if (::inet_pton(AF_INET6, host.c_str(), v6) == 1) {
    static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::equal(v6, v6 + 16, kLoopback);
  }
  return false;
}

void AnswerReceiver::KeepHeader(std::string_view name, std::string_view value) {
  for (auto& [wanted, kept] : wanted_) {
    if (SameWord(wanted, name)) kept = std::string(value);
  }
}

std::string AnswerReceiver::HeaderValue(std::string_view name) const {
  for (const auto& [wanted, kept] : wanted_) {
    if (SameWord(wanted, name)) return kept;
  }
  return {};
}

bool AnswerReceiver::Head(int status, std::optional<std::uint64_t> announcedLength) {
  decoding_ = decoder_ != nullptr && status == 200;
  sinking_ = sink_ && status == 200;
  if (announcedLength && *announcedLength > cap_) {
    failure_ = TooLarge(cap_);
    return false;
  }
  return true;
}

bool AnswerReceiver::Data(std::string_view bytes) {
  if (received_ + bytes.size() > cap_) {
    failure_ = TooLarge(cap_);
    return false;
  }
  received_ += bytes.size();
  if (sinking_) {
    try {
      failure_ = sink_(bytes);
    } catch (const std::bad_alloc&) {
      failure_ = kOutOfMemory;
    } catch (const std::exception& e) {
      failure_ = std::string("a resposta do servidor não pôde ser guardada (") + e.what() + ")";
    }
    return failure_.empty();
  }
  if (!decoding_) {
    if (start_.size() <= kExcerptBytes) start_.append(bytes.substr(0, kExcerptBytes + 1 - start_.size()));
    return true;
  }
  try {
    if (decoder_->Feed(bytes)) return true;
    failure_ = "resposta inválida do servidor (" + decoder_->Failure() + ")";
  } catch (const std::bad_alloc&) {
    failure_ = kOutOfMemory;
  } catch (const std::exception& e) {
    // The storage refused the rows (past its limits): nothing of the answer is kept.
    failure_ = std::string("resposta do servidor não pôde ser guardada (") + e.what() + ")";
  }
  return false;
}

bool AnswerReceiver::Coded(std::uint64_t bytes) {
  if (coded_ + bytes > cap_) {
    failure_ = TooLarge(cap_);
    return false;
  }
  coded_ += bytes;
  return true;
}

void AnswerReceiver::Refuse(std::string why) {
  if (failure_.empty()) failure_ = std::move(why);
}

void AnswerReceiver::Abandon(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e) || dynamic_cast<const std::length_error*>(&e)) {
    failure_ = kOutOfMemory;
  } else {
    failure_ = std::string("falha inesperada na troca com o servidor (") + e.what() + ")";
  }
}

std::string AnswerReceiver::Excerpt() const {
  std::string out;
  for (const char c : std::string_view(start_).substr(0, kExcerptBytes)) {
    out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  if (start_.size() > kExcerptBytes) out += "...";
  return out;
}

}  // namespace host
