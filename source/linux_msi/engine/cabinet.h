// Extraction of package files from a cabinet with libgcab.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "windows_types.h"

namespace linux_msi {

// Writes each cabinet entry named in `targets` (entry name, which is the File
// table key, to absolute target path) to its path; other entries are skipped.
// `before_each` runs before an entry is written and returns false to cancel.
// A file that starts with "#!" or is an ELF image is made executable.
// ERROR_SUCCESS; ERROR_INSTALL_USEREXIT when cancelled; ERROR_INSTALL_FAILURE
// when the cabinet cannot be read or written out, or lacks a named entry
// (`problem` then says which).
UINT ExtractCabinet(const std::string& cabinet_path, const std::map<std::string, std::string>& targets,
                    const std::function<bool(const std::string& entry)>& before_each, std::string& problem);

}  // namespace linux_msi
