// The framework's reference-counted object model.
//
// Every interface derives from IObject and declares its identifier as
//   static constexpr iid_t kIid = ...;
// Objects are implemented on SimpleObjectBase, start with one reference, and are
// held through objptr_t.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "ovra/result.h"

namespace ovra {

// Interface identifier, as passed to QueryInterface.
using iid_t = std::uint32_t;

struct IObject {
  virtual std::int32_t AddRef() = 0;
  virtual std::int32_t Release() = 0;
  virtual result_t QueryInterface(iid_t iid, void** object) = 0;

 protected:
  ~IObject() = default;
};

// Owning pointer to a reference-counted object: holds one reference and releases
// it when reset or destroyed. A raw pointer enters through Adopt (the caller's
// reference is taken over) or Retain (a reference is added).
template <typename T>
class objptr_t {
 public:
  using element_type = T;

  constexpr objptr_t() noexcept = default;
  constexpr objptr_t(std::nullptr_t) noexcept {}

  // Takes over a reference the caller owns, such as the initial one of a new object.
  [[nodiscard]] static objptr_t Adopt(T* object) noexcept {
    objptr_t result;
    result.object_ = object;
    return result;
  }

  // Adds a reference of its own; the caller keeps whatever it held.
  [[nodiscard]] static objptr_t Retain(T* object) noexcept {
    if (object != nullptr) object->AddRef();
    return Adopt(object);
  }

  objptr_t(const objptr_t& other) noexcept : objptr_t(Retain(other.object_)) {}
  objptr_t(objptr_t&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  objptr_t(const objptr_t<U>& other) noexcept : objptr_t(Retain(other.get())) {}

  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  objptr_t(objptr_t<U>&& other) noexcept : object_(other.detach()) {}

  ~objptr_t() { reset(); }

  // Serves copy, move and converting assignment; safe for self-assignment.
  objptr_t& operator=(objptr_t other) noexcept {
    swap(other);
    return *this;
  }

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Releases the held reference, if any, and leaves the pointer empty.
  void reset() noexcept {
    if (T* old = std::exchange(object_, nullptr)) old->Release();
  }

  // Gives up the held reference without releasing it; the caller now owns it.
  [[nodiscard]] T* detach() noexcept { return std::exchange(object_, nullptr); }

  void swap(objptr_t& other) noexcept { std::swap(object_, other.object_); }

 private:
  T* object_ = nullptr;
};

template <typename T, typename U>
bool operator==(const objptr_t<T>& a, const objptr_t<U>& b) noexcept { return a.get() == b.get(); }
template <typename T, typename U>
bool operator!=(const objptr_t<T>& a, const objptr_t<U>& b) noexcept { return a.get() != b.get(); }
template <typename T>
bool operator==(const objptr_t<T>& a, std::nullptr_t) noexcept { return !a; }
template <typename T>
bool operator!=(const objptr_t<T>& a, std::nullptr_t) noexcept { return static_cast<bool>(a); }

// Creates a framework object and adopts its initial reference.
template <typename T, typename... Args>
objptr_t<T> MakeObject(Args&&... args) {
  return objptr_t<T>::Adopt(new T(std::forward<Args>(args)...));
}

namespace object_detail {
inline std::atomic<std::int32_t> live_objects{0};
}  // namespace object_detail

// Number of framework objects (SimpleObjectBase) alive in the process.
inline std::int32_t LiveObjectCount() noexcept {
  return object_detail::live_objects.load(std::memory_order_relaxed);
}

// Strategy of an object that answers QueryInterface for its one interface only.
struct NoServiceStrategy {};

// Reference counting and QueryInterface for an object implementing Interface.
// The count starts at 1; the release that brings it to 0 deletes the object.
template <typename Strategy, typename Interface>
class SimpleObjectBase : public Interface {
  static_assert(std::is_base_of_v<IObject, Interface>, "Interface must derive from IObject");

 public:
  SimpleObjectBase() noexcept { object_detail::live_objects.fetch_add(1, std::memory_order_relaxed); }
  SimpleObjectBase(const SimpleObjectBase&) = delete;
  SimpleObjectBase& operator=(const SimpleObjectBase&) = delete;
  virtual ~SimpleObjectBase() { object_detail::live_objects.fetch_sub(1, std::memory_order_relaxed); }

  std::int32_t AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

  std::int32_t Release() override {
    const std::int32_t remaining = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;
    return remaining;
  }

  // Identifier 0 or Interface::kIid: adds a reference and stores the interface
  // pointer. Any other identifier: stores null and returns kResultInterfaceNotSupported.
  result_t QueryInterface(iid_t iid, void** object) override {
    if (object == nullptr) return kResultInvalidArgument;
    if (iid != 0 && iid != Interface::kIid) {
      *object = nullptr;
      return kResultInterfaceNotSupported;
    }
    AddRef();
    *object = static_cast<Interface*>(this);
    return kResultOk;
  }

 private:
  std::atomic<std::int32_t> references_{1};
};

}  // namespace ovra
