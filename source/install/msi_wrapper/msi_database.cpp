#include "msi_wrapper/msi_database.h"

#include <iterator>

#include "msi_wrapper/msi_handle.h"

namespace installer::msi_wrapper {
namespace {

class MsiRecordImpl : public MsiRecord {
 public:
  explicit MsiRecordImpl(MSIHANDLE handle) : handle_(handle) {}

  MSIHANDLE handle() const { return handle_.get(); }

  unsigned GetFieldCount() const override { return MsiRecordGetFieldCount(handle_.get()); }
  bool IsNull(unsigned field) const override { return MsiRecordIsNull(handle_.get(), field) != 0; }
  std::wstring GetString(unsigned field) const override {
    std::wstring value;
    ReadRecordString(handle_.get(), field, value);
    return value;
  }
  int GetInteger(unsigned field) const override { return MsiRecordGetInteger(handle_.get(), field); }
  UINT SetString(unsigned field, const std::wstring& value) override {
    return MsiRecordSetStringW(handle_.get(), field, value.c_str());
  }
  UINT SetInteger(unsigned field, int value) override { return MsiRecordSetInteger(handle_.get(), field, value); }

 private:
  UniqueMsiHandle handle_;
};

// The handle of a record made here; 0 for none or a foreign implementation.
MSIHANDLE RecordHandle(const std::unique_ptr<MsiRecord>& record) {
  const auto* impl = dynamic_cast<const MsiRecordImpl*>(record.get());
  return impl ? impl->handle() : 0;
}

class MsiViewImpl : public MsiView {
 public:
  explicit MsiViewImpl(MSIHANDLE handle) : handle_(handle) {}

  std::unique_ptr<MsiRecord> Fetch() override {
    MSIHANDLE record = 0;
    if (MsiViewFetch(handle_.get(), &record) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<MsiRecordImpl>(record);
  }
  std::unique_ptr<MsiRecord> CreateRecord(unsigned field_count) override {
    return std::make_unique<MsiRecordImpl>(MsiCreateRecord(field_count));
  }
  UINT Insert(const std::unique_ptr<MsiRecord>& record) override {
    return MsiViewModify(handle_.get(), MSIMODIFY_INSERT, RecordHandle(record));
  }
  UINT Delete(const std::unique_ptr<MsiRecord>& record) override {
    return MsiViewModify(handle_.get(), MSIMODIFY_DELETE, RecordHandle(record));
  }

 private:
  UniqueMsiHandle handle_;
};

class MsiDatabaseImpl : public MsiDatabase {
 public:
  explicit MsiDatabaseImpl(MSIHANDLE handle) : handle_(handle) {}

  UINT OpenView(const std::wstring& query, std::unique_ptr<MsiView>& view) override {
    MSIHANDLE raw = 0;
    if (const UINT result = MsiDatabaseOpenViewW(handle_.get(), query.c_str(), &raw)) {
      return result;
    }
    UniqueMsiHandle opened(raw);
    if (const UINT result = MsiViewExecute(opened.get(), 0)) {
      return result;
    }
    view = std::make_unique<MsiViewImpl>(opened.release());
    return ERROR_SUCCESS;
  }
  UINT Commit() override { return MsiDatabaseCommit(handle_.get()); }

 private:
  UniqueMsiHandle handle_;
};

}  // namespace

std::unique_ptr<MsiDatabase> OpenMsiDatabase(const std::wstring& path, UINT& error, MsiOpenMode mode) {
  MSIHANDLE handle = 0;
  const LPCWSTR persist = mode == MsiOpenMode::kDirect ? MSIDBOPEN_DIRECT : MSIDBOPEN_READONLY;
  error = MsiOpenDatabaseW(path.c_str(), persist, &handle);
  if (error != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<MsiDatabaseImpl>(handle);
}

UINT ReadRecordString(MSIHANDLE record, UINT field, std::wstring& out) {
  out.clear();
  // Most fields fit a small buffer and take one call; a longer one is read
  // again into a buffer of its length.
  wchar_t small[128];
  DWORD size = static_cast<DWORD>(std::size(small));
  UINT result = MsiRecordGetStringW(record, field, small, &size);
  if (result == ERROR_SUCCESS) {
    out = std::wstring(small, size);  // a fresh string is built faster than one assigned to
  }
  while (result == ERROR_MORE_DATA) {
    out.resize(static_cast<std::size_t>(size) + 1);  // with room for the terminator
    size += 1;
    result = MsiRecordGetStringW(record, field, out.data(), &size);
    out.resize(result == ERROR_SUCCESS ? size : 0);
  }
  return result;
}

}  // namespace installer::msi_wrapper
