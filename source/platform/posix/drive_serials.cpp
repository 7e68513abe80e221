#include "platform/drive_serials.h"

#include <fcntl.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSerialOffset = 20;  // IDENTIFY words 10 to 19
constexpr std::size_t kSerialLength = 20;
constexpr unsigned char kIdentifyDevice = 0xEC;

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A sysfs attribute without its line end.
std::string ReadFileText(const fs::path& path) {
  std::string text = ReadFileBytes(path);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The sysfs folder of the one disk under the block device `device` (a partition's
// disk; the single device beneath a device-mapper or md device). Empty when unknown.
fs::path DiskUnder(const fs::path& device) {
  std::error_code error;
  fs::path block = fs::canonical(device, error);
  for (int depth = 0; !error && depth < 8; ++depth) {
    if (fs::exists(block / "partition", error)) {
      block = block.parent_path();
      continue;
    }
    std::vector<fs::path> below;
    for (const auto& entry : fs::directory_iterator(block / "slaves", error)) {
      below.push_back(fs::canonical(entry.path(), error));
    }
    if (below.size() != 1) return block;
    block = below.front();
  }
  return error ? fs::path() : block;
}

// Serial words of IDENTIFY data as the device sends them: each 16-bit word little-endian,
// its high byte the first character.
std::string SerialFromIdentifyWords(const unsigned char* identify) {
  std::string serial;
  for (std::size_t offset = kSerialOffset; offset < kSerialOffset + kSerialLength; offset += 2) {
    serial += static_cast<char>(identify[offset + 1]);
    serial += static_cast<char>(identify[offset]);
  }
  return serial;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string ReadAtaSerial(const std::string& device_node) {
  const FileDescriptor device(open(device_node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (device.get() < 0) return {};
  // libata answers HDIO_GET_IDENTITY with the text fields already in reading order.
  unsigned char identify[512] = {};
  if (ioctl(device.get(), HDIO_GET_IDENTITY, identify) == 0) {
    return std::string(reinterpret_cast<const char*>(identify) + kSerialOffset, kSerialLength);
  }
  // Otherwise the SCSI layer's ATA PASS-THROUGH (16), PIO data-in, one block.
  unsigned char command[16] = {0x85, 4 << 1, 0x0E};
  command[6] = 1;
  command[14] = kIdentifyDevice;
  unsigned char sense[32] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.cmdp = command;
  io.cmd_len = sizeof command;
  io.dxferp = identify;
  io.dxfer_len = sizeof identify;
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.sbp = sense;
  io.mx_sb_len = sizeof sense;
  io.timeout = 5000;
  if (ioctl(device.get(), SG_IO, &io) != 0 || io.status != 0 || io.host_status != 0 || io.driver_status != 0) {
    return {};
  }
  return SerialFromIdentifyWords(identify);
}

// The serial udev recorded for the disk, else the one in sysfs.
std::string ReadDescriptorSerial(const fs::path& disk) {
  const std::string numbers = ReadFileText(disk / "dev");  // "8:0"
  std::ifstream udev("/run/udev/data/b" + numbers);
  constexpr char kKey[] = "E:ID_SERIAL_SHORT=";
  for (std::string line; std::getline(udev, line);) {
    if (line.rfind(kKey, 0) == 0) return line.substr(sizeof kKey - 1);
  }
  for (const char* file : {"serial", "device/serial"}) {
    std::string serial = ReadFileText(disk / file);
    if (!serial.empty()) return serial;
  }
  // VPD page 0x80: a 4-byte header whose last byte is the length of the serial.
  const std::string page = ReadFileBytes(disk / "device/vpd_pg80");
  if (page.size() > 4) return page.substr(4, static_cast<unsigned char>(page[3]));
  return {};
}

class SysfsDriveSerials final : public DriveSerialSource {
 public:
  DriveSerials ReadSystemDrive() override {
    DriveSerials serials;
    struct stat root {};
    if (stat("/", &root) != 0) return serials;
    const fs::path disk = DiskUnder("/sys/dev/block/" + std::to_string(major(root.st_dev)) + ":" +
                                    std::to_string(minor(root.st_dev)));
    if (disk.empty()) return serials;
    serials.ata = ReadAtaSerial("/dev/" + disk.filename().string());
    serials.descriptor = ReadDescriptorSerial(disk);
    return serials;
  }
};

}  // namespace

DriveSerialSource& SystemDriveSerials() {
  static SysfsDriveSerials source;
  return source;
}

}  // namespace platform
