#include "host/core/Component.h"

#include <gtest/gtest.h>

namespace host {
namespace {

struct Probe : TComponent {
  Probe(std::string name, std::vector<std::string>* log) : TComponent(std::move(name)), log_(log) {}
  ~Probe() override { log_->push_back(Name()); }
  std::vector<std::string>* log_;
};

TEST(ComponentTest, OwnerFindsAndDestroysChildrenInReverseOrder) {
  std::vector<std::string> destroyed;
  {
    TComponent form("frm");
    auto* panel = form.Create<Probe>("pan", &destroyed);
    panel->Create<Probe>("grid", &destroyed);
    form.Create<Probe>("button", &destroyed);
    EXPECT_EQ(form.FindComponent("grid")->Owner(), panel);
    EXPECT_EQ(form.FindComponent("missing"), nullptr);
  }
  EXPECT_EQ(destroyed, (std::vector<std::string>{"button", "pan", "grid"}));
}

TEST(ComponentTest, AbortIsItsOwnExceptionType) { EXPECT_THROW(Abort(), EAbort); }

}  // namespace
}  // namespace host
