#include "host/net/NetExchange.h"

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

}  // namespace

bool AnswerReceiver::Head(int status, std::optional<std::uint64_t> announcedLength) {
  decoding_ = decoder_ != nullptr && status == 200;
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
