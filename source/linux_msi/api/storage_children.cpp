#include "api/storage_children.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace linux_msi {

// Each recorded child behind a weak pointer of its own, cleared when it dies.
struct StorageChildCollector::Children {
  std::vector<std::unique_ptr<gpointer>> objects;

  void Add(GObject* object) {
    objects.push_back(std::make_unique<gpointer>(object));
    g_object_add_weak_pointer(object, objects.back().get());
  }

  void Append(Children&& other) {
    std::move(other.objects.begin(), other.objects.end(), std::back_inserter(objects));
    other.objects.clear();
  }

  // A live child whose parent was recorded too, that no live recorded child
  // names as its parent, and that has one reference left, is held by nothing
  // but a reference libmsi dropped. Roots (no parent) are never released.
  void ReleaseLost() {
    std::vector<GObject*> alive;
    for (const auto& slot : objects) {
      if (*slot) alive.push_back(G_OBJECT(*slot));
    }
    auto recorded = [&](GObject* object) { return std::find(alive.begin(), alive.end(), object) != alive.end(); };
    auto parent_of = [](GObject* object) { return G_OBJECT(gsf_input_container(GSF_INPUT(object))); };
    std::vector<GObject*> lost;
    for (GObject* object : alive) {
      GObject* parent = parent_of(object);
      const bool is_parent = std::any_of(alive.begin(), alive.end(), [&](GObject* o) { return parent_of(o) == object; });
      if (parent && recorded(parent) && !is_parent && g_atomic_int_get(&object->ref_count) == 1) {
        lost.push_back(object);
      }
    }
    for (const auto& slot : objects) {
      if (*slot) g_object_remove_weak_pointer(G_OBJECT(*slot), slot.get());
    }
    objects.clear();
    for (GObject* object : lost) g_object_unref(object);
  }
};

namespace {

// The collectors recording now, with their threads; the last of a thread
// records. (No thread_local: LeakSanitizer's thread scan has crashed on the
// dynamic TLS of a module loaded with dlopen, as this one is.)
// Kept past static destruction: a thread may still make storage objects then.
struct Recorders {
  std::mutex mutex;
  std::vector<std::pair<std::thread::id, StorageChildCollector::Children*>> list;
};
Recorders& TheRecorders() {
  static auto* recorders = new Recorders;
  return *recorders;
}
void (*original_constructed)(GObject*) = nullptr;

void RecordConstructed(GObject* object) {
  if (original_constructed) original_constructed(object);
  const std::thread::id thread = std::this_thread::get_id();
  Recorders& recorders = TheRecorders();
  std::lock_guard<std::mutex> lock(recorders.mutex);
  const auto recorder =
      std::find_if(recorders.list.rbegin(), recorders.list.rend(), [&](const auto& r) { return r.first == thread; });
  if (recorder != recorders.list.rend()) recorder->second->Add(object);
}

void StartRecording(StorageChildCollector::Children* children) {
  Recorders& recorders = TheRecorders();
  std::lock_guard<std::mutex> lock(recorders.mutex);
  recorders.list.emplace_back(std::this_thread::get_id(), children);
}

void StopRecording(StorageChildCollector::Children* children) {
  Recorders& recorders = TheRecorders();
  std::lock_guard<std::mutex> lock(recorders.mutex);
  auto& list = recorders.list;
  list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& r) { return r.second == children; }), list.end());
}

// The storage reader's children are all of one class; its constructed hook
// sees each one made.
void HookStorageClass() {
  static std::once_flag hooked;
  std::call_once(hooked, [] {
    auto* storage_class = static_cast<GObjectClass*>(g_type_class_ref(GSF_INFILE_MSOLE_TYPE));
    original_constructed = storage_class->constructed;
    storage_class->constructed = RecordConstructed;
  });
}

constexpr char kDataKey[] = "msi-posix-storage-children";

void ReleaseWithDatabase(gpointer data) {
  std::unique_ptr<StorageChildCollector::Children> children(static_cast<StorageChildCollector::Children*>(data));
  children->ReleaseLost();
}

}  // namespace

StorageChildCollector::StorageChildCollector() : children_(std::make_unique<Children>()) {
  HookStorageClass();
  StartRecording(children_.get());
}

StorageChildCollector::~StorageChildCollector() {
  if (!children_) return;
  StopRecording(children_.get());
  children_->ReleaseLost();
}

// Qdata is cleared after the database's own finalizer has let go of its storage.
void StorageChildCollector::HandTo(LibmsiDatabase* database) {
  StopRecording(children_.get());
  auto* held = static_cast<Children*>(g_object_get_data(G_OBJECT(database), kDataKey));
  if (held) {
    held->Append(std::move(*children_));
    children_.reset();
    return;
  }
  g_object_set_data_full(G_OBJECT(database), kDataKey, children_.release(), ReleaseWithDatabase);
}

}  // namespace linux_msi
