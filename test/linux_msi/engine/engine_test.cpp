// The install engine through the MSI C API over the Kestrel Notes packages (test/packages/engine);
// the Windows lane runs it against Wine's msi.dll (docs/wine-differences.md).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "msi_wrapper/msi_handle.h"
#include "ovra/strings.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;
using msi_test::PackagePath;
using msi_test::ScopedEngineHome;

constexpr bool kWine = msi_test::kUnderWine;

// Codes authored in test/packages/engine.
const wchar_t kNotesV1[] = L"{E4E74EAD-BE3B-4938-AADF-AC2098620395}";
const wchar_t kNotesV2[] = L"{74A54848-A577-4581-A380-DA5E62FB39FC}";
const wchar_t kNotesUpgradeCode[] = L"{361A54CD-D6B2-4C21-9F5B-273C09E92D46}";
const wchar_t kPlover[] = L"{552F1696-84A0-44E9-BCDB-6FAB6806B777}";
const wchar_t kNotesMainComponent[] = L"{30705FCC-850B-4B59-B000-62A6A95073AC}";      // notes.txt
const wchar_t kNotesSettingsComponent[] = L"{A80C6A60-A862-4B60-8924-D7E3DB16D1B6}";  // a registry value
const wchar_t kNeverInstalled[] = L"{0D9C5B7E-2F41-4A36-9E8B-51C7A3D60F24}";

// Core installed: Wine answers SOURCE, not counting its registry key path as local.
constexpr INSTALLSTATE kCoreInstalled = kWine ? INSTALLSTATE_SOURCE : INSTALLSTATE_LOCAL;

constexpr DWORD kEveryMessage =
    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER |
    INSTALLLOGMODE_INFO | INSTALLLOGMODE_FILESINUSE | INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE |
    INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_COMMONDATA |
    INSTALLLOGMODE_INITIALIZE | INSTALLLOGMODE_TERMINATE | INSTALLLOGMODE_SHOWDIALOG;

using Handle = installer::msi_wrapper::UniqueMsiHandle;

struct Message {
  UINT type;  // INSTALLMESSAGE_*, the low bits (icons, buttons) masked off
  std::wstring text;
};

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// The external UI handler for the object's lifetime, recording every message; it
// answers IDCANCEL once, at the first message after which `cancel` holds.
class MessageCapture {
 public:
  using CancelRule = std::function<bool(const std::vector<Message>&)>;
  explicit MessageCapture(CancelRule cancel = nullptr)
      : cancel_(std::move(cancel)), previous_(MsiSetExternalUIW(&MessageCapture::Receive, kEveryMessage, this)) {}
  ~MessageCapture() { MsiSetExternalUIW(previous_, 0, nullptr); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;
  const std::vector<Message>& messages() const { return messages_; }
  bool cancelled() const { return cancelled_; }
  std::vector<std::wstring> Texts(UINT type) const {
    std::vector<std::wstring> texts;
    for (const Message& message : messages_) if (message.type == type) texts.push_back(message.text);
    return texts;
  }

 private:
  static int WINAPI Receive(LPVOID context, UINT type, LPCWSTR text) {
    auto* self = static_cast<MessageCapture*>(context);
    self->messages_.push_back({type & 0xFF000000u, text != nullptr ? text : L""});
    if (!self->cancelled_ && self->cancel_ && self->cancel_(self->messages_)) {
      self->cancelled_ = true;
      return IDCANCEL;
    }
    return 0;  // not handled: the installer goes on as without a handler
  }

  CancelRule cancel_;
  std::vector<Message> messages_;
  bool cancelled_ = false;
  INSTALLUI_HANDLERW previous_;  // last: set once the rest is ready
};

UINT Install(const wchar_t* package, const std::wstring& command_line = L"") {
  return MsiInstallProductW(PackagePath(package).c_str(), command_line.c_str());
}

UINT Remove(const wchar_t* product) { return MsiConfigureProductExW(product, 0, INSTALLSTATE_ABSENT, L""); }

std::wstring Failed(UINT code) { return L"<error " + std::to_wstring(code) + L">"; }

// The text `call(buffer, &size)` writes, or Failed(code).
template <typename Call>
std::wstring Text(Call call) {
  wchar_t text[1024] = L"";
  DWORD size = 1024;
  const UINT result = call(text, &size);
  return result == ERROR_SUCCESS ? text : Failed(result);
}

std::wstring ProductInfo(const wchar_t* product, const wchar_t* property) {
  return Text([&](LPWSTR text, DWORD* size) { return MsiGetProductInfoW(product, property, text, size); });
}
std::wstring Property(MSIHANDLE package, const wchar_t* name) {
  return Text([&](LPWSTR text, DWORD* size) { return MsiGetPropertyW(package, name, text, size); });
}
std::wstring TargetPath(MSIHANDLE package, const wchar_t* folder) {
  return Text([&](LPWSTR text, DWORD* size) { return MsiGetTargetPathW(package, folder, text, size); });
}

// MsiQueryFeatureStateW of Core, Spelling, Sync and Extras.
std::vector<INSTALLSTATE> FeatureStates(const wchar_t* product) {
  std::vector<INSTALLSTATE> states;
  for (const wchar_t* feature : {L"Core", L"Spelling", L"Sync", L"Extras"}) {
    states.push_back(MsiQueryFeatureStateW(product, feature));
  }
  return states;
}

// MsiGetComponentPathW's state and path.
std::pair<INSTALLSTATE, std::wstring> ComponentPath(const wchar_t* product, const wchar_t* component) {
  wchar_t path[1024] = L"";
  DWORD size = 1024;
  const INSTALLSTATE state = MsiGetComponentPathW(product, component, path, &size);
  return {state, path};
}

std::wstring PackageCodeOf(const wchar_t* package) {
  Handle summary;
  EXPECT_EQ(ERROR_SUCCESS, MsiGetSummaryInformationW(0, PackagePath(package).c_str(), 0, summary.receive()));
  return Text([&](LPWSTR text, DWORD* size) {
    return MsiSummaryInfoGetPropertyW(summary.get(), PID_REVNUMBER, nullptr, nullptr, nullptr, text, size);
  });
}

// InstallLocation (set by the type-51 action SetInstallLocation) without a trailing separator.
fs::path InstallFolder(const wchar_t* product) {
  fs::path folder = fs::path(ProductInfo(product, INSTALLPROPERTY_INSTALLLOCATION)).lexically_normal();
  return folder.has_filename() ? folder : folder.parent_path();
}

std::set<std::wstring> RelatedProducts(const wchar_t* upgrade_code) {
  std::set<std::wstring> products;
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code, 0, i, product) == ERROR_SUCCESS; ++i) {
    products.insert(product);
  }
  return products;
}

std::vector<fs::path> FilesUnder(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  return files;
}

// Removes, failing, whatever a test left installed.
class Engine : public ::testing::Test {
 protected:
  void SetUp() override { previous_ui_ = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr); }
  void TearDown() override {
    for (const wchar_t* product : {kNotesV1, kNotesV2, kPlover}) {
      if (MsiQueryProductStateW(product) != INSTALLSTATE_UNKNOWN) {
        ADD_FAILURE() << ovra::Utf8FromWide(product) << " was left installed; removing it";
        Remove(product);
      }
    }
    // Wine leaves the install folder's empty parent behind.
    std::error_code ignored;
    for (const fs::path& folder : install_folders_) fs::remove(folder.parent_path(), ignored);
    MsiSetInternalUI(previous_ui_, nullptr);
  }

  fs::path NoteInstallFolder(const wchar_t* product) {
    fs::path folder = InstallFolder(product);
    install_folders_.push_back(folder);
    return folder;
  }

  ScopedEngineHome home_;
  INSTALLUILEVEL previous_ui_ = INSTALLUILEVEL_NOCHANGE;
  std::vector<fs::path> install_folders_;
};

// ACTIONSTART "Action 9:04:38: InstallFiles. Copying new files", bracketed in INFO by "Action start
// 9:04:38: InstallFiles." and "Action ended 9:04:38: InstallFiles. Return value 1.". Returns the actions.
std::set<std::wstring> CheckActionMessages(const MessageCapture& capture) {
  const std::wregex action_start(LR"(Action \d{1,2}:\d\d:\d\d: (\w+)\. (.*))");
  std::set<std::wstring> actions;
  for (const std::wstring& text : capture.Texts(INSTALLMESSAGE_ACTIONSTART)) {
    std::wsmatch match;
    EXPECT_TRUE(std::regex_match(text, match, action_start)) << ovra::Utf8FromWide(text);
    if (match.empty()) continue;
    actions.insert(match[1]);
    if (match[1] == L"InstallFiles") {
      EXPECT_EQ(L"Copying new files", match[2].str());
    }
  }
  const std::vector<std::wstring> info = capture.Texts(INSTALLMESSAGE_INFO);
  for (const std::wstring& action : actions) {
    const std::wregex started(L"Action start \\d{1,2}:\\d\\d:\\d\\d: " + action + L"\\.");
    const std::wregex ended(L"Action ended \\d{1,2}:\\d\\d:\\d\\d: " + action + L"\\. Return value 1\\.");
    const auto start =
        std::find_if(info.begin(), info.end(), [&](const std::wstring& t) { return std::regex_match(t, started); });
    const auto end = std::find_if(start, info.end(), [&](const std::wstring& t) { return std::regex_match(t, ended); });
    EXPECT_TRUE(start != info.end() && end != info.end()) << ovra::Utf8FromWide(action);
  }
  return actions;
}

using CopiedFile = std::pair<std::wstring, std::uintmax_t>;  // the Directory table's key, the size

// InstallFiles' ACTIONDATA, "File: notes.txt,  Directory: INSTALLDIR,  Size: 45", by file name.
std::map<std::wstring, CopiedFile> InstallFilesData(const std::vector<Message>& messages) {
  const std::wregex file_data(LR"(File: ([^,]+),  Directory: (\w+),  Size: (\d+))");
  std::map<std::wstring, CopiedFile> copied;
  bool in_install_files = false;
  for (const Message& message : messages) {
    if (message.type == INSTALLMESSAGE_ACTIONSTART) in_install_files = Contains(message.text, L": InstallFiles. ");
    if (!in_install_files || message.type != INSTALLMESSAGE_ACTIONDATA) continue;
    std::wsmatch match;
    EXPECT_TRUE(std::regex_match(message.text, match, file_data)) << ovra::Utf8FromWide(message.text);
    if (!match.empty()) copied[match[1].str()] = {match[2].str(), std::stoull(match[3].str())};
  }
  return copied;
}

// The log's text, UTF-16 or 8-bit, as ASCII.
std::string ReadLog(const fs::path& log) {
  std::ifstream file(log, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
  return bytes;
}

TEST_F(Engine, InstallSendsTheDocumentedMessagesAndLogsThem) {
  const fs::path log = home_.folder() / L"install.log";
  ASSERT_EQ(ERROR_SUCCESS, MsiEnableLogW(INSTALLLOGMODE_INFO | INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                                             INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING,
                                         log.wstring().c_str(), 0));
  MessageCapture capture;
  ASSERT_EQ(ERROR_SUCCESS, Install(L"notes_v1.msi"));
  MsiEnableLogW(0, nullptr, 0);
  const fs::path folder = NoteInstallFolder(kNotesV1);
  ASSERT_FALSE(capture.messages().empty());
  EXPECT_EQ(UINT(INSTALLMESSAGE_INITIALIZE), capture.messages().front().type);
  EXPECT_EQ(UINT(INSTALLMESSAGE_TERMINATE), capture.messages().back().type);
  const std::set<std::wstring> actions = CheckActionMessages(capture);
  for (const wchar_t* action : {L"CostFinalize", L"SetInstallLocation", L"SetJournalDir", L"InstallValidate",
                                L"InstallFiles", L"MarkFilesCopied", L"RegisterProduct", L"InstallFinalize"}) {
    EXPECT_EQ(1u, actions.count(action)) << ovra::Utf8FromWide(action);
  }
  const std::map<std::wstring, CopiedFile> expected = {
      {L"notes.txt", {L"INSTALLDIR", fs::file_size(folder / L"notes.txt")}},
      {L"legacy.txt", {L"INSTALLDIR", fs::file_size(folder / L"legacy.txt")}},
      {L"letter.txt", {L"TemplatesDir", fs::file_size(folder / L"Templates" / L"letter.txt")}},
      {L"journal.txt", {L"JournalDir", fs::file_size(folder / L"Journal" / L"journal.txt")}}};
  std::map<std::wstring, CopiedFile> copied = InstallFilesData(capture.messages());
  if (msi_test::kUnderWine) {
    // Wine also names the files of features left out (documented: the files it copies).
    for (const auto& [name, file] : expected) EXPECT_EQ(file, copied[name]) << ovra::Utf8FromWide(name);
  } else {
    EXPECT_TRUE(copied == expected);
  }
  EXPECT_TRUE(
      std::regex_search(ReadLog(log), std::regex(R"(Action ended \d{1,2}:\d\d:\d\d: INSTALL\. Return value 1\.)")));
  // RemoveFiles names each file it removes: "File: notes.txt, Directory: INSTALLDIR".
  MessageCapture removal;
  ASSERT_EQ(ERROR_SUCCESS, Remove(kNotesV1));
  const std::vector<std::wstring> removal_data = removal.Texts(INSTALLMESSAGE_ACTIONDATA);
  EXPECT_NE(removal_data.end(),
            std::find(removal_data.begin(), removal_data.end(), L"File: notes.txt, Directory: INSTALLDIR"));
  EXPECT_EQ(UINT(INSTALLMESSAGE_TERMINATE), removal.messages().back().type);
}

TEST_F(Engine, InstalledProductAnswersQueriesUntilRemoved) {
  ASSERT_EQ(ERROR_SUCCESS, Install(L"notes_v1.msi"));
  const fs::path folder = NoteInstallFolder(kNotesV1);
  EXPECT_EQ(L"1.0.0", ProductInfo(kNotesV1, INSTALLPROPERTY_VERSIONSTRING));
  EXPECT_EQ(PackageCodeOf(L"notes_v1.msi"), ProductInfo(kNotesV1, INSTALLPROPERTY_PACKAGECODE));
  EXPECT_EQ(L"Kestrel Notes", ProductInfo(kNotesV1, INSTALLPROPERTY_INSTALLEDPRODUCTNAME));
  EXPECT_EQ(Failed(ERROR_UNKNOWN_PROPERTY), ProductInfo(kNotesV1, L"NoSuchProperty"));
  const fs::path cached = ProductInfo(kNotesV1, INSTALLPROPERTY_LOCALPACKAGE);
  EXPECT_TRUE(fs::is_regular_file(cached)) << cached.string();
  // A null buffer asks for the length, a short one gets ERROR_MORE_DATA; each gives the length.
  wchar_t buffer[64];
  const struct {
    bool buffer;
    DWORD size;
    UINT result;
  } rules[] = {{false, 0, ERROR_SUCCESS}, {true, 3, ERROR_MORE_DATA}, {true, 6, ERROR_SUCCESS}};
  for (const auto& rule : rules) {
    DWORD size = rule.size;
    EXPECT_EQ(rule.result,
              MsiGetProductInfoW(kNotesV1, INSTALLPROPERTY_VERSIONSTRING, rule.buffer ? buffer : nullptr, &size));
    EXPECT_EQ(5u, size) << rule.size;
  }
  EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(kNotesV1));
  const INSTALLSTATE A = INSTALLSTATE_ABSENT;
  EXPECT_EQ((std::vector{kCoreInstalled, A, A, A}), FeatureStates(kNotesV1));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryFeatureStateW(kNotesV1, L"NoSuchFeature"));
  std::set<std::wstring> products;
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumProductsW(i, product) == ERROR_SUCCESS; ++i) products.insert(product);
  EXPECT_EQ(1u, products.count(kNotesV1));
  EXPECT_EQ(ERROR_SUCCESS, MsiGetProductCodeW(kNotesMainComponent, product));
  EXPECT_EQ(std::wstring(kNotesV1), product);
  const auto [main_state, main_path] = ComponentPath(kNotesV1, kNotesMainComponent);
  EXPECT_EQ(INSTALLSTATE_LOCAL, main_state);
  EXPECT_EQ(folder / L"notes.txt", fs::path(main_path).lexically_normal());
  // A registry key path: 02: is HKEY_LOCAL_MACHINE, 32-bit. Wine calls the component absent.
  EXPECT_EQ(std::pair(kWine ? INSTALLSTATE_ABSENT : INSTALLSTATE_LOCAL,
                      std::wstring(LR"(02:\Software\Kestrel\Notes\Edition)")),
            ComponentPath(kNotesV1, kNotesSettingsComponent));
  std::set<std::wstring> published;
  wchar_t feature[MAX_FEATURE_CHARS + 1];
  UINT result = ERROR_SUCCESS;
  for (DWORD i = 0; (result = MsiEnumFeaturesW(kNotesV1, i, feature, nullptr)) == ERROR_SUCCESS; ++i) {
    published.insert(feature);
  }
  EXPECT_EQ(UINT(ERROR_NO_MORE_ITEMS), result);
  // Wine answers ERROR_NO_MORE_ITEMS at index 0.
  EXPECT_EQ((kWine ? std::set<std::wstring>{} : std::set<std::wstring>{L"Core", L"Spelling", L"Sync", L"Extras"}),
            published);
  // Nothing of the features left out (Core's files: the message test, whose sizes read them).
  for (const fs::path& absent :
       {folder / L"Drafts", folder / L"dictionary.txt", folder / L"sync.txt", folder / L"extras.txt"}) {
    EXPECT_FALSE(fs::exists(absent)) << absent.string();
  }
  ASSERT_EQ(ERROR_SUCCESS, Remove(kNotesV1));
  EXPECT_EQ(Failed(ERROR_UNKNOWN_PRODUCT), ProductInfo(kNotesV1, INSTALLPROPERTY_VERSIONSTRING));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNotesV1));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryFeatureStateW(kNotesV1, L"Core"));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, ComponentPath(kNotesV1, kNotesMainComponent).first);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(fs::exists(cached));
}

TEST_F(Engine, CommandLineSelectsFeatures) {
  constexpr INSTALLSTATE L = INSTALLSTATE_LOCAL, A = INSTALLSTATE_ABSENT, C = kCoreInstalled;
  const std::pair<const wchar_t*, std::vector<INSTALLSTATE>> cases[] = {  // Core, Spelling, Sync, Extras
      {L"INSTALLLEVEL=3", {C, L, A, A}},    // Spelling is at level 3
      {L"INSTALLLEVEL=200", {C, L, L, L}},  // Sync at 150, Extras at 200
      {L"SYNC=on", {C, A, L, A}},           // the Condition row sets Sync to level 1
      {L"ADDLOCAL=Extras", {A, A, A, L}},   // ADDLOCAL alone decides
      {L"ADDLOCAL=Core,Sync", {C, A, L, A}},
      {L"ADDLOCAL=ALL", {C, L, L, L}},
  };
  for (const auto& [command_line, features] : cases) {
    SCOPED_TRACE(ovra::Utf8FromWide(command_line));
    ASSERT_EQ(ERROR_SUCCESS, Install(L"notes_v1.msi", command_line));
    EXPECT_EQ(features, FeatureStates(kNotesV1));
    const fs::path folder = NoteInstallFolder(kNotesV1);
    EXPECT_EQ(features[3] == L, fs::exists(folder / L"extras.txt"));
    EXPECT_EQ(features[0] != A, fs::exists(folder / L"notes.txt"));
    ASSERT_EQ(ERROR_SUCCESS, Remove(kNotesV1));
  }
}

TEST_F(Engine, MajorUpgradeRemovesTheOlderVersion) {
  ASSERT_EQ(ERROR_SUCCESS, Install(L"notes_v1.msi"));
  const fs::path folder = NoteInstallFolder(kNotesV1);
  ASSERT_EQ(ERROR_SUCCESS, Install(L"notes_v2.msi"));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNotesV1));
  EXPECT_EQ(Failed(ERROR_UNKNOWN_PRODUCT), ProductInfo(kNotesV1, INSTALLPROPERTY_VERSIONSTRING));
  EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(kNotesV2));
  EXPECT_EQ(L"2.0.0", ProductInfo(kNotesV2, INSTALLPROPERTY_VERSIONSTRING));
  EXPECT_EQ(PackageCodeOf(L"notes_v2.msi"), ProductInfo(kNotesV2, INSTALLPROPERTY_PACKAGECODE));
  EXPECT_EQ(std::set<std::wstring>{kNotesV2}, RelatedProducts(kNotesUpgradeCode));
  EXPECT_EQ(folder, InstallFolder(kNotesV2));
  std::error_code error;
  EXPECT_EQ(60u, fs::file_size(folder / L"notes.txt", error));  // notes_v2.txt from notes2.cab
  EXPECT_TRUE(fs::exists(folder / L"whatsnew.txt"));
  EXPECT_FALSE(fs::exists(folder / L"legacy.txt"));  // only 1.0.0 had it
  ASSERT_EQ(ERROR_SUCCESS, Remove(kNotesV2));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNotesV2));
  EXPECT_TRUE(RelatedProducts(kNotesUpgradeCode).empty());
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(Engine, FalseLaunchConditionStopsTheInstall) {
  MessageCapture capture;
  EXPECT_EQ(ERROR_INSTALL_FAILURE, Install(L"launch_false.msi"));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kPlover));
  const std::vector<std::wstring> errors = capture.Texts(INSTALLMESSAGE_ERROR);
  // Wine ends with 1603 without sending the condition's Description to the handler.
  EXPECT_EQ(!kWine, std::any_of(errors.begin(), errors.end(), [](const std::wstring& text) {
              return Contains(text, L"This product needs a newer system.");
            }));
}

// A custom action that cannot run fails the install, is named in the log, and what was copied goes.
TEST_F(Engine, FailingCustomActionRollsTheInstallBack) {
  const fs::path log = home_.folder() / L"custom.log";
  const fs::path target = home_.folder() / L"Plover Check";
  ASSERT_EQ(ERROR_SUCCESS, MsiEnableLogW(INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, log.wstring().c_str(), 0));
  MessageCapture capture;
  const UINT result = Install(L"custom_exe.msi", L"INSTALLDIR=\"" + target.wstring() + L"\"");
  MsiEnableLogW(0, nullptr, 0);
  if (kWine) {  // Wine skips an executable custom action whose program cannot start
    EXPECT_EQ(ERROR_SUCCESS, result);
    EXPECT_EQ(ERROR_SUCCESS, Remove(kPlover));
    return;
  }
  EXPECT_EQ(ERROR_INSTALL_FAILURE, result);
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kPlover));
  EXPECT_TRUE(FilesUnder(target).empty());
  EXPECT_NE(std::string::npos, ReadLog(log).find("RunPloverHelper"));
}

// Cancelling leaves nothing behind (INSTALLDIR in the engine home, to look without a registration).
TEST_F(Engine, CancelFromTheHandlerRollsTheInstallBack) {
  const fs::path target = home_.folder() / L"Kestrel Notes";
  const std::wstring command_line = L"INSTALLDIR=\"" + target.wstring() + L"\"";
  const auto nothing_left = [&] {
    EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNotesV1));
    EXPECT_TRUE(FilesUnder(target).empty());
  };
  {  // at the ACTIONSTART of MarkFilesCopied, the custom action after InstallFiles
    MessageCapture capture([](const std::vector<Message>& messages) {
      return messages.back().type == INSTALLMESSAGE_ACTIONSTART &&
             Contains(messages.back().text, L": MarkFilesCopied. ");
    });
    EXPECT_EQ(ERROR_INSTALL_USEREXIT, Install(L"notes_v1.msi", command_line));
    EXPECT_TRUE(capture.cancelled());
    EXPECT_EQ(UINT(INSTALLMESSAGE_TERMINATE), capture.messages().back().type);
  }
  nothing_left();
  // At the first PROGRESS report after InstallFiles has begun copying.
  MessageCapture capture([](const std::vector<Message>& messages) {
    const bool copying = std::any_of(messages.begin(), messages.end(), [](const Message& m) {
      return m.type == INSTALLMESSAGE_ACTIONDATA && m.text.rfind(L"File: ", 0) == 0 && Contains(m.text, L"Size: ");
    });
    return copying && messages.back().type == INSTALLMESSAGE_PROGRESS && messages.back().text.rfind(L"1: 2 ", 0) == 0;
  });
  const UINT result = Install(L"notes_v1.msi", command_line);
  EXPECT_TRUE(capture.cancelled());
  if (kWine) {  // Wine ignores IDCANCEL on PROGRESS messages and completes the install
    EXPECT_EQ(ERROR_SUCCESS, result);
    EXPECT_EQ(ERROR_SUCCESS, Remove(kNotesV1));
  } else {
    EXPECT_EQ(ERROR_INSTALL_USEREXIT, result);
    nothing_left();
  }
}

TEST_F(Engine, RejectsMalformedAndUnknownCodes) {
  // The last has a wrong character only: Wine's MsiQueryProductStateW checks braces and length.
  for (const wchar_t* malformed : {L"", L"not-a-guid", L"E4E74EAD-BE3B-4938-AADF-AC2098620395",
                                   L"{E4E74EAD-BE3B-4938-AADF-AC209862039}", L"{E4E74EAD+BE3B-4938-AADF-AC2098620395}"}) {
    SCOPED_TRACE(ovra::Utf8FromWide(malformed));
    EXPECT_EQ(Failed(ERROR_INVALID_PARAMETER), ProductInfo(malformed, INSTALLPROPERTY_VERSIONSTRING));
    EXPECT_EQ(kWine && Contains(malformed, L"+") ? INSTALLSTATE_UNKNOWN : INSTALLSTATE_INVALIDARG,
              MsiQueryProductStateW(malformed));
  }
  wchar_t buffer[64];
  EXPECT_EQ(Failed(ERROR_UNKNOWN_PRODUCT), ProductInfo(kNeverInstalled, INSTALLPROPERTY_VERSIONSTRING));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNeverInstalled));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryFeatureStateW(kNeverInstalled, L"Core"));
  EXPECT_EQ(UINT(ERROR_NO_MORE_ITEMS), MsiEnumRelatedProductsW(kNeverInstalled, 0, 0, buffer));
  // Wine answers ERROR_NO_MORE_ITEMS for an unknown product too.
  EXPECT_EQ(kWine ? UINT(ERROR_NO_MORE_ITEMS) : UINT(ERROR_UNKNOWN_PRODUCT),
            MsiEnumFeaturesW(kNeverInstalled, 0, buffer, nullptr));
  // Wine answers ERROR_FILE_NOT_FOUND where ERROR_INSTALL_PACKAGE_OPEN_FAILED is documented.
  EXPECT_EQ(kWine ? UINT(ERROR_FILE_NOT_FOUND) : UINT(ERROR_INSTALL_PACKAGE_OPEN_FAILED), Install(L"no_such.msi"));
}

TEST_F(Engine, PackageHandleReadsPropertiesAndRunsActions) {
  Handle package;
  ASSERT_EQ(ERROR_SUCCESS, MsiOpenPackageW(PackagePath(L"notes_v1.msi").c_str(), package.receive()));
  const MSIHANDLE h = package.get();
  EXPECT_EQ(L"Kestrel Notes", Property(h, L"ProductName"));
  EXPECT_EQ(L"", Property(h, L"NOT_DEFINED"));
  // The length is asked for with an empty buffer, not a null one.
  wchar_t empty[1] = L"";
  DWORD size = 0;
  EXPECT_EQ(ERROR_MORE_DATA, MsiGetPropertyW(h, L"ProductName", empty, &size));
  EXPECT_EQ(13u, size);
  EXPECT_EQ(ERROR_SUCCESS, MsiSetPropertyW(h, L"SYNC", L"on"));
  EXPECT_EQ(L"on", Property(h, L"SYNC"));
  EXPECT_EQ(MSICONDITION_TRUE, MsiEvaluateConditionW(h, L"SYNC = \"on\" AND NOT Installed"));
  EXPECT_EQ(MSICONDITION_FALSE, MsiEvaluateConditionW(h, L"SYNC <> \"on\""));
  EXPECT_EQ(MSICONDITION_NONE, MsiEvaluateConditionW(h, L""));
  EXPECT_EQ(MSICONDITION_ERROR, MsiEvaluateConditionW(h, L"(SYNC = \"on\""));
  EXPECT_EQ(ERROR_SUCCESS, MsiSetPropertyW(h, L"SYNC", L""));  // an empty value removes the property
  EXPECT_EQ(MSICONDITION_FALSE, MsiEvaluateConditionW(h, L"SYNC"));
  Handle record(MsiCreateRecord(1));
  MsiRecordSetStringW(record.get(), 0, L"[ProductName] [1][NOT_DEFINED]!");
  MsiRecordSetStringW(record.get(), 1, L"1.0");
  EXPECT_EQ(L"Kestrel Notes 1.0!",
            Text([&](LPWSTR text, DWORD* size) { return MsiFormatRecordW(h, record.get(), text, size); }));
  wchar_t text[4] = L"";
  size = 4;
  EXPECT_EQ(ERROR_MORE_DATA, MsiFormatRecordW(h, record.get(), text, &size));
  EXPECT_EQ(18u, size);
  EXPECT_EQ(ERROR_FUNCTION_NOT_CALLED, MsiDoActionW(h, L"NoSuchAction"));
  for (const wchar_t* action :
       {L"CostInitialize", L"FileCost", L"CostFinalize", L"SetInstallLocation", L"SetJournalDir"}) {
    EXPECT_EQ(ERROR_SUCCESS, MsiDoActionW(h, action)) << ovra::Utf8FromWide(action);
  }
  const std::wstring install_dir = TargetPath(h, L"INSTALLDIR");
  ASSERT_GT(install_dir.size(), 6u);
  const wchar_t separator = install_dir.back();
  EXPECT_TRUE(separator == L'\\' || separator == L'/');
  EXPECT_EQ(L"Notes" + std::wstring(1, separator), install_dir.substr(install_dir.size() - 6));
  EXPECT_EQ(install_dir, Property(h, L"ARPINSTALLLOCATION"));                     // type 51
  EXPECT_EQ(install_dir + L"Journal" + separator, TargetPath(h, L"JournalDir"));  // type 35
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
  EXPECT_EQ(ERROR_SUCCESS, MsiGetFeatureStateW(h, L"Core", &installed, &action));
  EXPECT_EQ(INSTALLSTATE_ABSENT, installed);
  EXPECT_EQ(INSTALLSTATE_LOCAL, action);
  EXPECT_EQ(ERROR_UNKNOWN_FEATURE, MsiGetFeatureStateW(h, L"NoSuchFeature", &installed, &action));
}

TEST_F(Engine, UiSettersReturnWhatTheyReplace) {
  EXPECT_EQ(INSTALLUILEVEL_NONE, MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr));  // the fixture's
  EXPECT_EQ(INSTALLUILEVEL_BASIC, MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr));
  // Invalid levels change nothing: an unknown flag, and 7 (levels end at 5; Wine takes it).
  EXPECT_EQ(INSTALLUILEVEL_NOCHANGE,
            MsiSetInternalUI(static_cast<INSTALLUILEVEL>(0x1000 | INSTALLUILEVEL_FULL), nullptr));
  EXPECT_EQ(kWine ? INSTALLUILEVEL_BASIC : INSTALLUILEVEL_NOCHANGE,
            MsiSetInternalUI(static_cast<INSTALLUILEVEL>(7), nullptr));
  EXPECT_EQ(kWine ? static_cast<INSTALLUILEVEL>(7) : INSTALLUILEVEL_BASIC,
            MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr));
}

}  // namespace
