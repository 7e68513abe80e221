// libmsi walks the package's storage when it opens a database (and again when
// it commits one) and never releases the children it gets for table streams,
// the string pool and sub-storages. Each keeps the package file open, and its
// memory, for the life of the process: an install and removal cycle, or every
// read of the package, would cost one descriptor more.
//
// A StorageChildCollector records the storage children made on its thread until
// it is handed on or goes. Handed to a database, it releases, once that
// database is finalized, the children only libmsi's lost references keep alive;
// not handed on, it releases them when it goes (the database was never made, or
// is gone already).
#pragma once

#include <libmsi.h>

#include <memory>

namespace linux_msi {

class StorageChildCollector {
 public:
  StorageChildCollector();
  ~StorageChildCollector();
  StorageChildCollector(const StorageChildCollector&) = delete;
  StorageChildCollector& operator=(const StorageChildCollector&) = delete;

  void HandTo(LibmsiDatabase* database);

  struct Children;

 private:
  std::unique_ptr<Children> children_;  // null once handed to a database
};

}  // namespace linux_msi
