#include "host/net/AnswerDecoder.h"

#include <utility>

#include "host/data/DecodedAnswer.h"
#include "host/net/AnswerBuilder.h"
#include "host/net/AnswerTokenizer.h"

namespace host {

static_assert(AnswerDecoder::kMaxDepth == AnswerTokenizer::kMaxDepth);

AnswerDecoder::AnswerDecoder()
    : builder_(std::make_unique<AnswerBuilder>()), tokenizer_(std::make_unique<AnswerTokenizer>(*builder_)) {
  tokenizer_->KeepMember("result", kKeptResultBytes);
}

AnswerDecoder::~AnswerDecoder() = default;

bool AnswerDecoder::Feed(std::string_view bytes) { return tokenizer_->Feed(bytes); }

bool AnswerDecoder::Finish() { return tokenizer_->Finish(); }

// A fault ends the reading where it is found, so only one of the two has a reason.
const std::string& AnswerDecoder::Failure() const {
  return tokenizer_->Failure().empty() ? builder_->Failure() : tokenizer_->Failure();
}

bool AnswerDecoder::HasResult() const { return builder_->HasResult(); }
bool AnswerDecoder::HasError() const { return builder_->HasError(); }
std::optional<std::int64_t> AnswerDecoder::Id() const { return builder_->Id(); }
std::int64_t AnswerDecoder::ErrorCode() const { return builder_->ErrorCode(); }
const std::string& AnswerDecoder::ErrorMessage() const { return builder_->ErrorMessage(); }

Variant AnswerDecoder::TakeResult() {
  std::shared_ptr<DecodedResult> result = builder_->TakeResult();
  const std::string kept = tokenizer_->TakeKept();
  if (!kept.empty()) {
    auto text = std::make_shared<std::string>();
    text->reserve(kept.size() + kPacketPadding);
    text->assign(kept);
    result->received = std::move(text);
  }
  return Variant::FromDecodedResult(std::move(result));
}

}  // namespace host
