// Formatted text, as MsiFormatRecord and the Formatted columns of a package
// expand it: [Property], [N] record fields, [#FileKey], [!FileKey], [$Component],
// [%ENV], [\x] escapes, [~] and {...} groups that vanish when a property inside
// them is empty. {{...}} is text meant for the log only and is dropped.
// Brackets and braces without a match stay as they are.
#pragma once

#include <string>

namespace linux_msi {

class FormatContext {
 public:
  virtual ~FormatContext() = default;
  // A property's value; empty when not set.
  virtual std::wstring Property(const std::wstring& name) const = 0;
  virtual std::wstring Environment(const std::wstring& name) const = 0;
  // The full path of a file of the File table, where it is (or will be) installed.
  virtual std::wstring FilePath(const std::wstring& file_key) const = 0;
  // The directory of a component of the Component table, with its trailing separator.
  virtual std::wstring ComponentDirectory(const std::wstring& component) const = 0;
  // The text of record field `index` (1-based); false when there is no record
  // or no such field (what [N] then becomes follows msi.dll).
  virtual bool RecordField(unsigned index, std::wstring& text) const = 0;
};

std::wstring FormatText(const std::wstring& text, const FormatContext& context);

}  // namespace linux_msi
