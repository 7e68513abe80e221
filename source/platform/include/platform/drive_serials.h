// The serial numbers of the disk that holds the system, as its hardware reports them.
//
// Windows: the physical drive behind %SystemDrive% (C: when unset), found through
// IOCTL_STORAGE_GET_DEVICE_NUMBER. ATA: SMART_RCV_DRIVE_DATA with IDENTIFY DEVICE.
// Descriptor: IOCTL_STORAGE_QUERY_PROPERTY's device descriptor.
//
// POSIX: the block device that holds "/" (through a partition, device-mapper or md
// layer down to one disk). ATA: HDIO_GET_IDENTITY, or SG_IO with an ATA
// PASS-THROUGH IDENTIFY DEVICE. Descriptor: udev's ID_SERIAL_SHORT, else the
// device's serial in sysfs (serial, device/serial, or VPD page 0x80).
#pragma once

#include <string>

namespace platform {

struct DriveSerials {
  // The 20 characters of IDENTIFY words 10 to 19, each word high byte first, not
  // trimmed; empty when the drive could not be asked (no ATA drive, not permitted).
  std::string ata;
  // The storage descriptor's serial text as reported, not decoded; empty when none.
  std::string descriptor;
};

class DriveSerialSource {
 public:
  virtual ~DriveSerialSource() = default;
  // Never fails: what cannot be read stays empty.
  virtual DriveSerials ReadSystemDrive() = 0;
};

// The system's own.
DriveSerialSource& SystemDriveSerials();

}  // namespace platform
