// The computer's base board (main board): its product name and serial number.
//
// Windows: the WMI query "SELECT Product, SerialNumber FROM Win32_BaseBoard", first
// row only; its implementation lives with the WMI helper (machine_id/wmi_query.cpp),
// which is its only user. POSIX: DMI in sysfs, board_name as Product and board_serial
// as SerialNumber (board_serial is readable by root only).
#pragma once

#include <string>

namespace platform {

class BaseBoardSource {
 public:
  virtual ~BaseBoardSource() = default;
  // The product followed directly by the serial number, in the system's narrow code
  // page. False when no row was read: the query failed, or a value is missing or empty.
  virtual bool ReadProductAndSerial(std::string& text) = 0;
};

// The system's own.
BaseBoardSource& SystemBaseBoard();

}  // namespace platform
