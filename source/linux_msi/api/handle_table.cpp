#include "api/handle_table.h"

#include <climits>

namespace linux_msi {
namespace {

// Half of the handle's bits hold the slot index + 1, the other half the generation.
constexpr unsigned kIndexBits = sizeof(MSIHANDLE) * CHAR_BIT / 2;
constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << kIndexBits) - 1;
constexpr std::uint64_t kMaxGeneration = kIndexMask;
constexpr std::size_t kMaxSlots = static_cast<std::size_t>(kIndexMask - 1);

}  // namespace

HandleTable& HandleTable::Instance() {
  static HandleTable* table = new HandleTable;  // outlives static destructors that close handles
  return *table;
}

MSIHANDLE HandleTable::Encode(std::size_t index) const {
  return static_cast<MSIHANDLE>((slots_[index].generation << kIndexBits) | (index + 1));
}

bool HandleTable::Decode(MSIHANDLE handle, std::size_t& index) const {
  const std::uint64_t value = handle;
  const std::uint64_t slot = value & kIndexMask;
  if (slot == 0 || slot > slots_.size()) {
    return false;
  }
  index = static_cast<std::size_t>(slot - 1);
  const Slot& entry = slots_[index];
  return entry.object && entry.generation == (value >> kIndexBits);
}

MSIHANDLE HandleTable::Add(std::shared_ptr<HandleObject> object) {
  if (!object) {
    return 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t index;
  if (!free_.empty()) {
    index = free_.front();
    free_.pop_front();
  } else if (slots_.size() < kMaxSlots) {
    index = slots_.size();
    slots_.emplace_back();
  } else {
    return 0;
  }
  slots_[index].object = std::move(object);
  return Encode(index);
}

const std::shared_ptr<HandleObject>* HandleTable::Lookup(MSIHANDLE handle, HandleKind kind) const {
  std::size_t index;
  if (!Decode(handle, index) || slots_[index].object->kind() != kind) {
    return nullptr;
  }
  return &slots_[index].object;
}

void HandleTable::Release(std::size_t index) {
  Slot& entry = slots_[index];
  entry.object.reset();
  if (entry.generation < kMaxGeneration) {
    ++entry.generation;
    free_.push_back(index);
  }
}

std::shared_ptr<HandleObject> HandleTable::Remove(MSIHANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t index;
  if (!Decode(handle, index)) {
    return nullptr;
  }
  std::shared_ptr<HandleObject> object = std::move(slots_[index].object);
  Release(index);
  return object;
}

std::vector<std::shared_ptr<HandleObject>> HandleTable::RemoveAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<HandleObject>> objects;
  for (std::size_t index = 0; index < slots_.size(); ++index) {
    if (slots_[index].object) {
      objects.push_back(std::move(slots_[index].object));
      Release(index);
    }
  }
  return objects;
}

}  // namespace linux_msi
