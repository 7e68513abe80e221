// The machine identifier: its parts alone, then the whole with the facts given by fakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>

#include "machine_id/machine_id.h"

namespace {

namespace id = installer::machine_id;

struct FakeDisk final : platform::DriveSerialSource {
  platform::DriveSerials serials;
  platform::DriveSerials ReadSystemDrive() override { return serials; }
};

struct FakeBoard final : platform::BaseBoardSource {
  const char* text = nullptr;  // null: no row
  int reads = 0;
  bool ReadProductAndSerial(std::string& out) override {
    ++reads;
    if (text) out = text;
    return text != nullptr;
  }
};

// Answers as told and notes the order it was asked in: P(C), M(ware), B(ox), H(ypervisor).
struct FakeProbes final : platform::VirtualMachineProbes {
  std::string yes;  // the probes that answer yes
  std::string asked;
  bool Answer(char probe) {
    asked += probe;
    return yes.find(probe) != std::string::npos;
  }
  bool VirtualPcGuestCall() override { return Answer('P'); }
  bool VmwareBackdoor() override { return Answer('M'); }
  bool VirtualBoxDevice() override { return Answer('B'); }
  bool HypervisorBit() override { return Answer('H'); }
};

struct FailingUuids final : platform::UuidSource {
  platform::ErrorCode Create(platform::Uuid&) override { return 1717; }  // RPC_S_UNKNOWN_IF
};

const std::regex kIdentifierShape("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

// The message `run` throws, of type Error; empty when it returns.
template <typename Error, typename Run>
std::string ErrorOf(Run run) {
  try {
    run();
  } catch (const Error& error) {
    return error.what();
  }
  return "";
}

TEST(MachineIdParts, DecodeDeviceSerial) {
  const struct { const char* given; const char* serial; } rows[] = {
      {"5744", "WD"},
      {"57442d5743", "WD-WC"},           // lower case digits
      {"7E20", "~ "},                     // printable bounds
      {"574", "574"},                     // odd count: kept as given
      {"1331", "1331"},                   // pairs that are not printable: kept as given
      {"5G44", "5G44"},                   // not hexadecimal
      {"S3Z9NB0K", "S3Z9NB0K"},
      {"", ""},
      {"AB\x01" "C", ""},                 // not printable: no serial
      {"57\xC3\xA9", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(id::DecodeDeviceSerial(row.given), row.serial) << row.given;
}

TEST(MachineIdParts, ChooseDiskSerial) {
  const struct { const char* ata; const char* descriptor; const char* chosen; } rows[] = {
      {"", "BADC", "ABCD"},                           // only the descriptor: pair-swapped
      {"", "", ""},
      {"", "ABCDE", "BADCE"},                         // an odd last character stays
      {"WD-123", "", "WD-123"},
      {"     WD-WCC4E1234567", "WD-WCC4E1234567", "     WD-WCC4E1234567"},  // inside the padded ATA text
      {"WD-WCC4E1234567", "DWW-CCE42143657", "WD-WCC4E1234567"},            // byte-swapped descriptor
      {"WD-WCC4E1234567", "XY", "YX"},                // they disagree: the swapped descriptor
      {"ABCD", "ABCE", "BAEC"},
      {"ABCD", "ABCD", "ABCD"},
  };
  for (const auto& row : rows) EXPECT_EQ(id::ChooseDiskSerial(row.ata, row.descriptor), row.chosen) << row.ata;
}

TEST(MachineIdParts, Placeholders) {
  for (const char* serial : {"00000000000000000001", "00000000000000000010", "                    ", "Volume0",
                             "oVulem0"}) {
    EXPECT_TRUE(id::IsPlaceholderDiskSerial(serial)) << serial;
  }
  for (const char* serial : {"", "Volume1", "0000000000000000001", "WD-WCC4E1234567"}) {
    EXPECT_FALSE(id::IsPlaceholderDiskSerial(serial)) << serial;
  }
  for (const char* text : {"None", "VAION/A"}) EXPECT_TRUE(id::IsPlaceholderBoardText(text)) << text;
  for (const char* text : {"VAIO N/A", "Base BoardNone"}) EXPECT_FALSE(id::IsPlaceholderBoardText(text)) << text;
}

TEST(MachineIdParts, GuidTextRoundTrip) {
  const id::GuidBytes bytes = id::ParseGuid("{0f30c04e-E20E-4a5d-95ae-BF041D6CF673}");
  EXPECT_EQ(bytes[0], 0x0F);
  EXPECT_EQ(bytes[15], 0x73);
  EXPECT_EQ(id::FormatGuidBytes(bytes), "0F30C04E-E20E-4A5D-95AE-BF041D6CF673");
  EXPECT_EQ(id::ParseGuid("0F30C04E-E20E-4A5D-95AE-BF041D6CF673"), bytes);
  for (const char* text : {"", "{}", "0F30C04E-E20E-4A5D-95AE-BF041D6CF67", "0F30C04E-E20E-4A5D-95AE-BF041D6CF6733",
                           "0F30C04EE-20E-4A5D-95AE-BF041D6CF673", "0F30C04E-E20E-4A5D-95AE-BF041D6CF67G",
                           "{0F30C04E-E20E-4A5D-95AE-BF041D6CF673", "{{0F30C04E-E20E-4A5D-95AE-BF041D6CF673}}",
                           "0F30C04E E20E 4A5D 95AE BF041D6CF673"}) {
    EXPECT_EQ(ErrorOf<std::runtime_error>([&] { id::ParseGuid(text); }), "Invalid GUID.") << text;
  }
}

TEST(MachineIdParts, UuidTextIsBracedUpperCase) {
  const platform::Uuid uuid{0x0f30c04e, 0xe20e, 0x4a5d, {0x95, 0xae, 0xbf, 0x04, 0x1d, 0x6c, 0xf6, 0x73}};
  EXPECT_EQ(id::FormatUuid(uuid), "{0F30C04E-E20E-4A5D-95AE-BF041D6CF673}");
}

// The expected hashed text, from md5sum's digest of the same bytes.
std::string ExpectedHashedText() {
  std::string md5 = SAMPLE_SERIAL_MD5;
  std::transform(md5.begin(), md5.end(), md5.begin(), [](unsigned char c) { return std::toupper(c); });
  return "{FFFF" + md5.substr(4, 4) + "-" + md5.substr(8, 4) + "-" + md5.substr(12, 4) + "-" + md5.substr(16, 4) +
         "-" + md5.substr(20, 12) + "}";
}

TEST(MachineIdParts, HashAgreesWithMd5sumAndDependsOnTheProductText) {
  EXPECT_EQ(id::HashedIdentifierText(SAMPLE_SERIAL), ExpectedHashedText());
  EXPECT_NE(id::HashedIdentifierText(SAMPLE_SERIAL, "Orvanto Integrated Desktop Suite Version 11"),
            ExpectedHashedText());
}

class MachineId : public ::testing::Test {
 protected:
  std::string Generate() { return id::GenerateMachineId({disk_, board_, probes_, platform::SystemUuids()}); }
  FakeDisk disk_;
  FakeBoard board_;
  FakeProbes probes_;
};

std::string Stable(const std::string& serial) {
  std::string text = id::HashedIdentifierText(serial);
  return text.substr(1, text.size() - 2);
}

TEST_F(MachineId, StableFromTheDiskOrTheBoard) {
  const struct { const char* ata; const char* descriptor; const char* board; std::string expected; } rows[] = {
      {SAMPLE_SERIAL, "", nullptr, Stable(SAMPLE_SERIAL)},
      // The descriptor reported byte-swapped, as hexadecimal text: the ATA serial counts.
      {SAMPLE_SERIAL, "4457572d4343453432313433363537", nullptr, Stable(SAMPLE_SERIAL)},
      {"", "5744", nullptr, Stable("DW")},
      // Placeholder disks fall through to the base board.
      {"                    ", "", "Base BoardABC123", Stable("Base BoardABC123")},
      {"00000000000000000001", "", "Base BoardABC123", Stable("Base BoardABC123")},
      {"", "oVulem0", "Base BoardABC123", Stable("Base BoardABC123")},
      {"", "\x01\x02", "Base BoardABC123", Stable("Base BoardABC123")},
  };
  for (const auto& row : rows) {
    disk_.serials = {row.ata, row.descriptor};
    board_.text = row.board;
    board_.reads = 0;
    const std::string identifier = Generate();
    EXPECT_EQ(identifier, row.expected) << row.ata << " / " << row.descriptor;
    EXPECT_EQ(Generate(), identifier);
    EXPECT_EQ(board_.reads > 0, row.board != nullptr) << "the board is read only for a placeholder disk";
    EXPECT_EQ(probes_.asked.substr(0, 4), "PMBH") << "every probe asked, in order";
    probes_.asked.clear();
  }
}

TEST_F(MachineId, RandomWithoutAUsableSerialOrInAVirtualMachine) {
  const struct { const char* yes; const char* asked; const char* board; const char* marker; } rows[] = {
      {"", "PMBH", nullptr, "F1F1"},
      {"", "PMBH", "None", "F1F1"},
      {"", "PMBH", "VAION/A", "F1F1"},
      {"", "PMBH", "", "F1F1"},
      {"P", "P", "Base BoardABC123", "F2F2"},
      {"MB", "PM", "Base BoardABC123", "F2F2"},
      {"B", "PMB", "Base BoardABC123", "F2F2"},
      {"H", "PMBH", "Base BoardABC123", "F2F2"},
  };
  disk_.serials = {"", ""};
  for (const auto& row : rows) {
    probes_.yes = row.yes;
    board_.text = row.board;
    std::set<std::string> seen;
    for (int call = 0; call < 3; ++call) {
      probes_.asked.clear();
      const std::string identifier = Generate();
      EXPECT_TRUE(std::regex_match(identifier, kIdentifierShape)) << identifier;
      EXPECT_EQ(identifier.substr(0, 4), row.marker) << identifier;
      EXPECT_EQ(probes_.asked, row.asked);
      seen.insert(identifier);
    }
    EXPECT_EQ(seen.size(), 3u) << "a new identifier on every call";
  }
}

TEST_F(MachineId, NoUuidMattersOnlyWhenOneIsNeeded) {
  FailingUuids no_uuids;
  disk_.serials = {SAMPLE_SERIAL, ""};
  EXPECT_EQ(id::GenerateMachineId({disk_, board_, probes_, no_uuids}), Stable(SAMPLE_SERIAL));
  for (const char* yes : {"", "H"}) {
    disk_.serials = {"", ""};
    probes_.yes = yes;
    EXPECT_EQ(ErrorOf<std::out_of_range>([&] { id::GenerateMachineId({disk_, board_, probes_, no_uuids}); }),
              "invalid string position");
  }
}

TEST(MachineIdOfThisComputer, IsWellFormed) {
  const std::string identifier = id::GenerateMachineId();
  std::cout << "identifier: " << identifier << "\n";
  EXPECT_TRUE(std::regex_match(identifier, kIdentifierShape)) << identifier;
  const std::string marker = identifier.substr(0, 4);
  EXPECT_TRUE(marker == "FFFF" || marker == "F1F1" || marker == "F2F2") << identifier;
  // A hashed identifier comes back the same; a random one does not.
  const std::string again = id::GenerateMachineId();
  EXPECT_EQ(again == identifier, marker == "FFFF") << identifier << " then " << again;
}

}  // namespace
