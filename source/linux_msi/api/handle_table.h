// The process-wide table behind MSIHANDLE values.
//
// A handle encodes a slot index and the slot's generation. Closing a handle
// bumps the generation, so the old value no longer matches; a slot whose
// generation would wrap is retired, so no value is ever handed out twice.
// Objects are shared: a call holds its object while another thread closes the
// handle, and the object goes when the last holder lets go.
//
// The table's lock also guards the fields of every record, so that a record
// call looks its handle up and reads or writes the fields in one critical
// section (msi_objects.h describes the lock order).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "msi.h"

namespace linux_msi {

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

  // The object of a live handle of T's kind, or null.
  template <typename T>
  std::shared_ptr<T> Find(MSIHANDLE handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::shared_ptr<HandleObject>* object = Lookup(handle, T::kKind);
    return object ? std::static_pointer_cast<T>(*object) : nullptr;
  }

  // Calls work(object) under the table's lock when the handle is a live T, and
  // returns its result; `missing` otherwise. `work` must not call into the table.
  template <typename T, typename Result, typename Work>
  Result WithLocked(MSIHANDLE handle, Result missing, Work work) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::shared_ptr<HandleObject>* object = Lookup(handle, T::kKind);
    return object ? work(static_cast<T&>(**object)) : missing;
  }

  // The table's lock, for reaching a record's fields outside a handle call.
  std::mutex& mutex() const { return mutex_; }

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
  // The slot's object of a live handle of the given kind, or null; the caller holds the lock.
  const std::shared_ptr<HandleObject>* Lookup(MSIHANDLE handle, HandleKind kind) const;
  MSIHANDLE Encode(std::size_t index) const;
  void Release(std::size_t index);

  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::deque<std::size_t> free_;  // reused oldest first, which spreads generations
};

}  // namespace linux_msi
