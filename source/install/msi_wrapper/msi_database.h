// Owners of a Windows Installer database, view (an executed query) and record
// (one row), and the string-field read they share with the query routines.
//
// Failures come back as Windows error codes (0 = success), empty pointers or
// empty strings, never as exceptions. Each object owns exactly its own handle:
// destroy records before their view and views before their database.
#pragma once

#include <memory>
#include <string>

#include "msi_wrapper/msi_api.h"

namespace installer::msi_wrapper {

class MsiRecord {
 public:
  virtual ~MsiRecord() = default;
  // Field numbers are 1-based; field 0 is the record's format field.
  virtual unsigned GetFieldCount() const = 0;
  virtual bool IsNull(unsigned field) const = 0;
  // Empty for a null field, a field past the count, and any failure.
  virtual std::wstring GetString(unsigned field) const = 0;
  // MSI_NULL_INTEGER for a null field, unchanged.
  virtual int GetInteger(unsigned field) const = 0;
  virtual UINT SetString(unsigned field, const std::wstring& value) = 0;
  virtual UINT SetInteger(unsigned field, int value) = 0;
};

class MsiView {
 public:
  virtual ~MsiView() = default;
  // The next row; empty after the last one and on any failure.
  virtual std::unique_ptr<MsiRecord> Fetch() = 0;
  // A new record of `field_count` fields (holding no handle if creation failed).
  virtual std::unique_ptr<MsiRecord> CreateRecord(unsigned field_count) = 0;
  // Adds the record as a row of the view's table.
  virtual UINT Insert(const std::unique_ptr<MsiRecord>& record) = 0;
  // Removes the row that the record was fetched as.
  virtual UINT Delete(const std::unique_ptr<MsiRecord>& record) = 0;
};

class MsiDatabase {
 public:
  virtual ~MsiDatabase() = default;
  // Prepares and executes `query`. On success `view` holds the new view (any
  // view it held is destroyed); on failure it is left as it was.
  virtual UINT OpenView(const std::wstring& query, std::unique_ptr<MsiView>& view) = 0;
  // Writes the changes of a database opened for writing; 0 for a read-only one.
  virtual UINT Commit() = 0;
};

enum class MsiOpenMode {
  kReadOnly,  // MSIDBOPEN_READONLY
  kDirect,    // MSIDBOPEN_DIRECT: changes reach the file through Commit
};

// Opens the package at `path`; an empty pointer and the code of
// MsiOpenDatabaseW in `error` on failure, 0 in `error` on success.
std::unique_ptr<MsiDatabase> OpenMsiDatabase(const std::wstring& path, UINT& error,
                                             MsiOpenMode mode = MsiOpenMode::kReadOnly);

// Reads a string field of a raw record handle, in one call when the text is
// short. `out` is cleared first and stays empty on failure.
UINT ReadRecordString(MSIHANDLE record, UINT field, std::wstring& out);

}  // namespace installer::msi_wrapper
