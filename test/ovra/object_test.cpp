#include "ovra/object.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

namespace {

using ovra::objptr_t;

struct ICounter : ovra::IObject {
  static constexpr ovra::iid_t kIid = 0x1A2B3C4D;

 protected:
  ~ICounter() = default;
};

// Counts references and never deletes itself, so the test sees it after the pointers go.
class FakeObject : public ICounter {
 public:
  std::int32_t AddRef() override { return ++references; }
  std::int32_t Release() override {
    ++releases;
    return --references;
  }
  ovra::result_t QueryInterface(ovra::iid_t, void**) override { return ovra::kResultNotImplemented; }

  int releases = 0;
  std::int32_t references = 1;
};

// Adopt takes the reference over, Retain adds one; every owner releases once.
TEST(ObjectPointer, CopyMoveAndAssignmentKeepTheCountRight) {
  FakeObject object, other;
  {
    auto first = objptr_t<ICounter>::Adopt(&object);
    objptr_t<ICounter> copy = first;
    objptr_t<ICounter> moved = std::move(copy);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(object.references, 2);

    objptr_t<ICounter> assigned = objptr_t<ICounter>::Adopt(&other);
    assigned = std::move(moved);  // releases `other`
    EXPECT_EQ(other.references, 0);
    assigned = assigned;
    EXPECT_EQ(object.references, 2);

    // Converted to a base interface.
    objptr_t<ovra::IObject> base = objptr_t<FakeObject>::Retain(&object);
    EXPECT_EQ(object.references, 3);
    EXPECT_EQ(first.detach(), &object);
    EXPECT_EQ(object.references, 3) << "detach hands the reference over";
  }
  EXPECT_EQ(object.references, 1);
  EXPECT_EQ(other.releases, 1);
}

// A base in front of the framework's, as the callback adapters have: the interface
// pointer differs from the object's address.
struct Payload {
  virtual ~Payload() = default;
  std::int64_t padding = 0;
};

class Counter : public Payload, public ovra::SimpleObjectBase<ovra::NoServiceStrategy, ICounter> {
 public:
  explicit Counter(bool* destroyed) : destroyed_(destroyed) {}
  ~Counter() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST(SimpleObject, CountStartsAtOneAndTheLastReleaseDeletes) {
  const std::int32_t live_before = ovra::LiveObjectCount();
  bool destroyed = false;
  ICounter* object = new Counter(&destroyed);
  EXPECT_EQ(ovra::LiveObjectCount(), live_before + 1);
  EXPECT_EQ(object->AddRef(), 2);
  EXPECT_EQ(object->Release(), 1);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(object->Release(), 0);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(ovra::LiveObjectCount(), live_before);
}

TEST(SimpleObject, QueryInterface) {
  bool destroyed = false;
  auto object = ovra::MakeObject<Counter>(&destroyed);
  ICounter* const expected = object.get();
  // The stored pointer must be the interface's, not the object's address.
  ASSERT_NE(static_cast<void*>(expected), static_cast<void*>(object.get()));

  for (ovra::iid_t iid : {ICounter::kIid, ovra::iid_t{0}}) {
    void* out = nullptr;
    EXPECT_EQ(object->QueryInterface(iid, &out), ovra::kResultOk);
    EXPECT_EQ(out, static_cast<void*>(expected));
    EXPECT_EQ(static_cast<ICounter*>(out)->Release(), 1);  // the query added one
  }

  void* out = &out;
  EXPECT_EQ(object->QueryInterface(0x293FDF28, &out), ovra::MakeResult(0x80000001));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(object->QueryInterface(ICounter::kIid, nullptr), ovra::MakeResult(0x80000046));
  EXPECT_EQ(object->AddRef(), 2);  // unchanged by the failed queries
  EXPECT_EQ(object->Release(), 1);
  EXPECT_FALSE(destroyed);
}

// Objects are released on worker threads and on the loop thread alike.
TEST(SimpleObject, ReferencesFromManyThreadsBalance) {
  bool destroyed = false;
  auto object = ovra::MakeObject<Counter>(&destroyed);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([raw = object.get()] {
      for (int i = 0; i < 100000; ++i) {
        raw->AddRef();
        raw->Release();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(object->AddRef(), 2);
  object->Release();
  object.reset();
  EXPECT_TRUE(destroyed);
}

}  // namespace
