// The process-wide table behind MSIHANDLE values.
//
// A handle encodes a slot index and the slot's generation. Closing a handle
// bumps the generation, so the old value no longer matches; a slot whose
// generation would wrap is retired, so no value is ever handed out twice.
// Objects are shared: a call holds its object while another thread closes the
// handle, and the object goes when the last holder lets go.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "msi.h"

namespace msi_posix {

enum class HandleKind : std::uint8_t { kDatabase, kView, kRecord, kSummaryInfo, kPackage };

class HandleObject {
 public:
  explicit HandleObject(HandleKind kind) : kind_(kind) {}
  virtual ~HandleObject() = default;
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;

  HandleKind kind() const { return kind_; }

 private:
  const HandleKind kind_;
};

class HandleTable {
 public:
  static HandleTable& Instance();

  // The new handle, or 0 when every slot is taken or retired.
  MSIHANDLE Add(std::shared_ptr<HandleObject> object);

  // The object of a live handle of the given kind, or null.
  std::shared_ptr<HandleObject> Find(MSIHANDLE handle, HandleKind kind) const;

  template <typename T>
  std::shared_ptr<T> Find(MSIHANDLE handle) const {
    return std::static_pointer_cast<T>(Find(handle, T::kKind));
  }

  // Unregisters a live handle and returns its object (null for a dead handle);
  // the caller releases it outside the table's lock.
  std::shared_ptr<HandleObject> Remove(MSIHANDLE handle);

  // Unregisters every live handle and returns their objects.
  std::vector<std::shared_ptr<HandleObject>> RemoveAll();

 private:
  struct Slot {
    std::shared_ptr<HandleObject> object;
    std::uint64_t generation = 1;
  };

  bool Decode(MSIHANDLE handle, std::size_t& index) const;
  MSIHANDLE Encode(std::size_t index) const;
  void Release(std::size_t index);

  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::deque<std::size_t> free_;  // reused oldest first, which spreads generations
};

}  // namespace msi_posix
