// The root of the platform's object model. Every screen element (record set, field, grid, page,
// button, query, connection, message table) is a TComponent: it has a name, an integer Tag, and
// an owner that destroys it. A form owns its components; parents own children, and nothing else
// deletes them.
//
// Components are created and used on the user-interface thread only.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

class TComponent : public TObject {
 public:
  // REQUIRES: owner outlives this component or is null. The owner takes ownership through
  // TakeOwnership, called by the owner's factory helpers (Create<T>).
  explicit TComponent(std::string name = {}, TComponent* owner = nullptr);
  ~TComponent() override;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TComponent* Owner() const { return owner_; }

  // The general-purpose integer every component carries.
  int Tag = 0;

  // Creates a component owned by this one and returns a non-owning pointer to it.
  template <class T, class... Args>
  T* Create(Args&&... args) {
    auto child = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = child.get();
    raw->owner_ = this;
    owned_.push_back(std::move(child));
    return raw;
  }

  // Owned components in creation order.
  std::vector<TComponent*> Components() const;
  // The owned component with this name (exact match), searched depth-first; null when none.
  TComponent* FindComponent(const std::string& name) const;

 private:
  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<std::unique_ptr<TComponent>> owned_;
};

// The silent abort: ends the operation in progress (a post, a column change, a command) without
// a further message. Hosts swallow it quietly.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Throws the silent abort.
[[noreturn]] void Abort();

// A platform error with a message meant for the user.
class EPlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace host
