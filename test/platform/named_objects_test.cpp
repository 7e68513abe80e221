// The platform's named events and shared-memory blocks, within a process and across processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "handshake_support.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"

namespace {

using handshake_test::ProbeProgram;
using handshake_test::RunToEnd;
using handshake_test::UniqueName;
using handshake_test::Wide;
using platform::EventAccess;
using platform::NamedEvent;
using platform::SharedMemory;
using platform::SharedMemoryView;
using platform::ViewAccess;

TEST(NamedObjects, EventHandlesDoWhatTheirAccessAllows) {
  const std::wstring name = UniqueName(L"Global\\");
  NamedEvent created, waiter, setter;
  EXPECT_EQ(setter.Open(name, EventAccess::kSet), 2u) << "missing";
  ASSERT_EQ(created.Create(name), 0u);
  ASSERT_EQ(waiter.Open(name, EventAccess::kWait), 0u);
  ASSERT_EQ(setter.Open(name, EventAccess::kSet), 0u);
  EXPECT_FALSE(waiter.IsSet());
  EXPECT_EQ(waiter.Set(), 5u);
  EXPECT_EQ(setter.Wait(), platform::kWaitFailed);

  EXPECT_EQ(setter.Set(), 0u);
  EXPECT_EQ(waiter.Wait(), platform::kWaitSignalled);
  EXPECT_EQ(waiter.Wait(), platform::kWaitSignalled) << "manual reset: it stays set";
  // Creating it again opens the same event.
  NamedEvent again;
  ASSERT_EQ(again.Create(name), 0u);
  EXPECT_TRUE(again.IsSet());
}

TEST(NamedObjects, EventsAndBlocksShareOneNamespace) {
  const std::wstring name = UniqueName();
  NamedEvent event;
  ASSERT_EQ(event.Create(name), 0u);
  SharedMemory block;
  EXPECT_EQ(block.CreateOrOpen(name, 2048), 6u);
  EXPECT_EQ(block.Open(name), 6u);

  const std::wstring block_name = UniqueName();
  ASSERT_EQ(block.CreateOrOpen(block_name, 2048), 0u);
  EXPECT_EQ(event.Open(block_name, EventAccess::kWait), 6u);
}

TEST(NamedObjects, BlockIsSharedThroughItsName) {
  const std::wstring name = UniqueName();
  SharedMemory writer, reader;
  ASSERT_EQ(writer.CreateOrOpen(name, 2048), 0u);
  ASSERT_EQ(reader.Open(name), 0u);
  SharedMemoryView written, read;
  ASSERT_EQ(writer.Map(ViewAccess::kReadWrite, 2048, written), 0u);
  ASSERT_EQ(reader.Map(ViewAccess::kRead, 2048, read), 0u);
  ASSERT_EQ(read.size(), 2048u);
  const auto* bytes = static_cast<const unsigned char*>(read.data());
  EXPECT_TRUE(std::all_of(bytes, bytes + 2048, [](unsigned char b) { return b == 0; })) << "a new block is zero";
  std::memcpy(static_cast<char*>(written.data()) + 2040, "12345678", 8);
  EXPECT_EQ(std::memcmp(bytes + 2040, "12345678", 8), 0);
  // The view outlives the handle.
  reader.Close();
  EXPECT_EQ(std::memcmp(bytes + 2040, "12345678", 8), 0);
}

class CrossProcess : public handshake_test::ScratchTest {};

TEST_F(CrossProcess, WaitBlocksUntilAnotherProcessSetsTheEvent) {
  const std::wstring name = UniqueName(L"Global\\");
  NamedEvent event;
  ASSERT_EQ(event.Create(name), 0u);
  const auto marker = dir_ / "set.txt";
  platform::ChildProcess setter;
  ASSERT_EQ(setter.Start({ProbeProgram(), L"set-event", name, Wide(marker)}), 0u);
  EXPECT_EQ(event.Wait(), platform::kWaitSignalled);
  // The probe creates the marker after a pause and only then sets the event.
  EXPECT_TRUE(std::filesystem::exists(marker));
  std::uint32_t exit_code = 1;
  ASSERT_EQ(setter.Wait(exit_code), 0u);
  EXPECT_EQ(exit_code, 0u);
}

TEST_F(CrossProcess, ObjectsOfAnEndedCreatorCountAsAbsentAndAreReplaced) {
  const std::wstring name = UniqueName(L"Global\\");
  const std::wstring go_name = UniqueName();
  NamedEvent go;
  ASSERT_EQ(go.Create(go_name), 0u);
  ASSERT_EQ(RunToEnd({ProbeProgram(), L"abandon", name, go_name, L"0"}), 0u);

  NamedEvent event;
  EXPECT_EQ(event.Open(name, EventAccess::kWait), 2u);
  SharedMemory block;
  EXPECT_EQ(block.Open(name + L".block"), 2u);
  // What is created under the names now is new: not set, all zero.
  ASSERT_EQ(event.Create(name), 0u);
  EXPECT_FALSE(event.IsSet());
  ASSERT_EQ(block.CreateOrOpen(name + L".block", 2048), 0u);
  SharedMemoryView view;
  ASSERT_EQ(block.Map(ViewAccess::kRead, 2048, view), 0u);
  const auto* bytes = static_cast<const unsigned char*>(view.data());
  EXPECT_TRUE(std::all_of(bytes, bytes + 2048, [](unsigned char b) { return b == 0; }));
}

TEST_F(CrossProcess, WaitEndsWhenTheCreatorEnds) {
#ifdef _WIN32
  GTEST_SKIP() << "on Windows the waiter's handle keeps the event alive: the wait blocks";
#else
  const std::wstring name = UniqueName(L"Global\\");
  const std::wstring go_name = UniqueName();
  NamedEvent go;
  ASSERT_EQ(go.Create(go_name), 0u);
  platform::ChildProcess creator;
  ASSERT_EQ(creator.Start({ProbeProgram(), L"abandon", name, go_name, L"300"}), 0u);
  ASSERT_EQ(go.Wait(), platform::kWaitSignalled);
  NamedEvent event;
  ASSERT_EQ(event.Open(name, EventAccess::kWait), 0u);
  EXPECT_EQ(event.Wait(), platform::kWaitAbandoned);
  std::uint32_t exit_code = 1;
  ASSERT_EQ(creator.Wait(exit_code), 0u);
  EXPECT_EQ(exit_code, 0u);
  // What the probe left behind is replaced, then removed with our handles.
  SharedMemory block;
  EXPECT_EQ(event.Create(name), 0u);
  EXPECT_EQ(block.CreateOrOpen(name + L".block", 2048), 0u);
#endif
}

// Global and Local stay apart, no prefix means Local, other names get Windows's codes.
TEST(NamedObjects, NamespacesAndRefusedNames) {
  const std::wstring leaf = UniqueName(L"");
  NamedEvent global, local;
  ASSERT_EQ(global.Create(L"Global\\" + leaf), 0u);
  EXPECT_EQ(local.Open(L"Local\\" + leaf, EventAccess::kWait), 2u);
  ASSERT_EQ(local.Create(L"Local\\" + leaf), 0u);
  ASSERT_EQ(local.Set(), 0u);
  EXPECT_FALSE(global.IsSet());
  NamedEvent unprefixed;
  ASSERT_EQ(unprefixed.Open(leaf, EventAccess::kWait), 0u);
  EXPECT_TRUE(unprefixed.IsSet());

  const struct {
    std::wstring name;
    platform::ErrorCode expected;
  } refused[] = {
    {L"Elsewhere\\" + leaf, 3},
    {L"Global\\", 123},
#ifndef _WIN32
    // Names Windows takes but a shm name cannot carry.
    {L"Session\\1\\" + leaf, 3},
    {L"Local\\a/b", 123},
    {L"Local\\" + std::wstring(300, L'x'), 206},
#endif
  };
  for (const auto& row : refused) {
    NamedEvent event;
    EXPECT_EQ(event.Create(row.name), row.expected) << ovra::Utf8FromWide(row.name).substr(0, 40);
  }
}

}  // namespace
