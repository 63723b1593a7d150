// The component base: an owner, a `Name` and a `Tag`. An owner frees the components
// it owns when it is destroyed, in reverse order of their creation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zw {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  virtual ~TComponent() {
    while (!owned_.empty()) owned_.pop_back();  // reverse order of creation
  }
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }

  // Creates a component owned by this one; it lives until this one is destroyed.
  template <typename T, typename... Args>
  T* CreateOwned(Args&&... args) {
    auto child = std::make_unique<T>(this, std::forward<Args>(args)...);
    T* raw = child.get();
    owned_.push_back(std::move(child));
    return raw;
  }

 private:
  TComponent* owner_;
  std::string name_;
  intptr_t tag_ = 0;
  std::vector<std::unique_ptr<TComponent>> owned_;
};

}  // namespace zw
