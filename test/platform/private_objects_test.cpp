// Linux: named objects are private to their creator's user; another user's are refused,
// treated as absent and reported. Without root, the seam naming the accepted user stands in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "handshake_support.h"
#include "named_object.h"
#include "platform/named_event.h"
#include "platform/named_object_diagnostics.h"
#include "platform/shared_memory.h"

namespace {

using handshake_test::UniqueName;
using platform::EventAccess;
using platform::NamedEvent;
using platform::SharedMemory;
using platform::SharedMemoryView;
using platform::ViewAccess;

std::string ObjectFile(const std::wstring& name) {
  std::string posix_name;
  EXPECT_EQ(platform::posix_detail::MapObjectName(name, posix_name), 0u);
  return "/dev/shm" + posix_name;
}

std::mutex reports_mutex;
std::vector<std::string> reports;
void CollectReport(std::string_view message) {
  std::lock_guard<std::mutex> lock(reports_mutex);
  reports.emplace_back(message);
}

class PrivateObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    reports.clear();
    previous_sink_ = platform::SetNamedObjectDiagnosticSink(CollectReport);
  }
  void TearDown() override {
    platform::SetNamedObjectDiagnosticSink(previous_sink_);
    platform::posix_detail::SetAcceptedOwnerSource(nullptr);
  }

  // From now on, objects of `user` are the accepted ones.
  void AcceptOnly(uid_t user) {
    accepted_ = user;
    platform::posix_detail::SetAcceptedOwnerSource([] { return accepted_; });
  }
  bool Reported(const std::string& text) {
    std::lock_guard<std::mutex> lock(reports_mutex);
    return std::any_of(reports.begin(), reports.end(),
                       [&](const std::string& report) { return report.find(text) != std::string::npos; });
  }

  static inline uid_t accepted_ = 0;
  platform::NamedObjectDiagnosticSink previous_sink_ = nullptr;
};

TEST_F(PrivateObjects, AreCreatedOwnerOnlyWhateverTheUmask) {
  for (const mode_t mask : {0000, 0022, 0277}) {
    const std::wstring name = UniqueName();
    const mode_t previous = umask(mask);
    NamedEvent event;
    SharedMemory block;
    const platform::ErrorCode event_created = event.Create(name);
    const platform::ErrorCode block_created = block.CreateOrOpen(name + L".block", 64);
    umask(previous);
    ASSERT_EQ(event_created, 0u);
    ASSERT_EQ(block_created, 0u);
    for (const std::string& file : {ObjectFile(name), ObjectFile(name + L".block")}) {
      struct stat info {};
      ASSERT_EQ(stat(file.c_str(), &info), 0) << file;
      EXPECT_EQ(info.st_mode & 07777, 0600u) << file << " with umask " << std::oct << mask;
      EXPECT_EQ(info.st_uid, geteuid());
    }
  }
}

TEST_F(PrivateObjects, AnotherUsersObjectsCountAsAbsentAndAreReported) {
  const std::wstring name = UniqueName();
  NamedEvent event;
  SharedMemory block;
  ASSERT_EQ(event.Create(name), 0u);
  ASSERT_EQ(block.CreateOrOpen(name + L".block", 64), 0u);

  AcceptOnly(geteuid() + 1);  // ours now look like another user's
  NamedEvent opened_event;
  SharedMemory opened_block;
  EXPECT_EQ(opened_event.Open(name, EventAccess::kWait), 2u);
  EXPECT_EQ(opened_block.Open(name + L".block"), 2u);
  const std::string owner = "belongs to user " + std::to_string(geteuid()) + ", not to user " +
                            std::to_string(geteuid() + 1) + ": refused, treated as absent";
  EXPECT_TRUE(Reported(owner));

  AcceptOnly(geteuid());
  EXPECT_EQ(opened_event.Open(name, EventAccess::kWait), 0u);
  EXPECT_EQ(opened_block.Open(name + L".block"), 0u);
}

TEST_F(PrivateObjects, BlockPlantedByAnotherUserIsNeitherReadNorKept) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving an object to another user takes root; AnotherUsersObjects... sees the check";
  }
  const std::wstring name = UniqueName();
  SharedMemory planted;
  SharedMemoryView planted_view;
  ASSERT_EQ(planted.CreateOrOpen(name, 64), 0u);
  ASSERT_EQ(planted.Map(ViewAccess::kReadWrite, 64, planted_view), 0u);
  std::memcpy(planted_view.data(), "/log planted", 12);
  const uid_t nobody = 65534;
  ASSERT_EQ(chown(ObjectFile(name).c_str(), nobody, nobody), 0);

  SharedMemory reader;
  EXPECT_EQ(reader.Open(name), 2u);
  EXPECT_TRUE(Reported("belongs to user 65534"));
  // Creating under the name makes a block of our own, which holds nothing.
  SharedMemory ours;
  ASSERT_EQ(ours.CreateOrOpen(name, 64), 0u);
  SharedMemoryView view;
  ASSERT_EQ(ours.Map(ViewAccess::kRead, 64, view), 0u);
  const auto* bytes = static_cast<const unsigned char*>(view.data());
  EXPECT_TRUE(std::all_of(bytes, bytes + 64, [](unsigned char b) { return b == 0; }));
  struct stat info {};
  ASSERT_EQ(stat(ObjectFile(name).c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u);
}

TEST_F(PrivateObjects, UnreadableObjectOfAnotherUserCountsAsAbsent) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root opens any object, whatever its mode";
  }
  // An object we may not open at all: ours, made unreadable, then seen as another user's.
  const std::wstring name = UniqueName();
  SharedMemory block;
  ASSERT_EQ(block.CreateOrOpen(name, 64), 0u);
  ASSERT_EQ(chmod(ObjectFile(name).c_str(), 0), 0);
  SharedMemory reader;
  EXPECT_EQ(reader.Open(name), 5u) << "our own object stays ours: access denied";
  AcceptOnly(geteuid() + 1);
  EXPECT_EQ(reader.Open(name), 2u);
  EXPECT_TRUE(Reported("refused, treated as absent"));
}

}  // namespace
