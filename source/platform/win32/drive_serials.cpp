#include "platform/drive_serials.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "kernel_handle.h"

namespace platform {
namespace {

constexpr std::size_t kSendCommandInSize = 33;     // SENDCMDINPARAMS
constexpr std::size_t kSendCommandOutSize = 545;   // room for SENDCMDOUTPARAMS and 512 bytes of data
constexpr std::size_t kDataOffset = offsetof(SENDCMDOUTPARAMS, bBuffer);
constexpr std::size_t kSerialOffset = 20;          // IDENTIFY words 10 to 19
constexpr std::size_t kSerialLength = 20;
constexpr BYTE kIdentifyDevice = 0xEC;
constexpr DWORD kDescriptorBufferSize = 4096;

std::wstring SystemDrive() {
  wchar_t drive[MAX_PATH] = {};
  const DWORD length = ExpandEnvironmentStringsW(L"%SystemDrive%", drive, MAX_PATH);
  if (length == 0 || length > MAX_PATH || drive[0] == L'\0') return L"C:";
  return drive;
}

// The number of the physical drive that holds `drive`; false when it cannot be asked.
bool PhysicalDriveNumber(const std::wstring& drive, DWORD& number) {
  const KernelHandle volume(CreateFileW((L"\\\\.\\" + drive).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (volume.get() == nullptr) return false;
  STORAGE_DEVICE_NUMBER device{};
  DWORD returned = 0;
  if (!DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &device, sizeof device,
                       &returned, nullptr)) {
    return false;
  }
  number = device.DeviceNumber;
  return true;
}

std::string ReadAtaSerial(const std::wstring& path) {
  const KernelHandle drive(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  if (drive.get() == nullptr) return {};
  BYTE input[kSendCommandInSize] = {};
  reinterpret_cast<SENDCMDINPARAMS*>(input)->irDriveRegs.bCommandReg = kIdentifyDevice;
  BYTE output[kSendCommandOutSize] = {};
  DWORD returned = 0;
  if (!DeviceIoControl(drive.get(), SMART_RCV_DRIVE_DATA, input, sizeof input, output, sizeof output, &returned,
                       nullptr)) {
    return {};
  }
  // Each 16-bit word of IDENTIFY data is little-endian, its high byte the first character.
  const BYTE* serial_words = output + kDataOffset + kSerialOffset;
  std::string serial;
  for (std::size_t offset = 0; offset < kSerialLength; offset += 2) {
    serial += static_cast<char>(serial_words[offset + 1]);
    serial += static_cast<char>(serial_words[offset]);
  }
  return serial;
}

std::string ReadDescriptorSerial(const std::wstring& path) {
  const KernelHandle drive(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr));
  if (drive.get() == nullptr) return {};
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::string buffer(kDescriptorBufferSize, '\0');
  DWORD returned = 0;
  if (!DeviceIoControl(drive.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                       kDescriptorBufferSize, &returned, nullptr)) {
    return {};
  }
  const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
  const DWORD offset = descriptor->SerialNumberOffset;
  if (offset == 0 || offset >= returned) return {};
  // Zero-terminated, and never past what the driver wrote.
  const std::size_t end = buffer.find('\0', offset);
  return buffer.substr(offset, (end == std::string::npos ? returned : std::min<std::size_t>(end, returned)) - offset);
}

class WindowsDriveSerials final : public DriveSerialSource {
 public:
  DriveSerials ReadSystemDrive() override {
    DriveSerials serials;
    DWORD number = 0;
    if (!PhysicalDriveNumber(SystemDrive(), number)) return serials;
    const std::wstring path = L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
    serials.ata = ReadAtaSerial(path);
    serials.descriptor = ReadDescriptorSerial(path);
    return serials;
  }
};

}  // namespace

DriveSerialSource& SystemDriveSerials() {
  static WindowsDriveSerials source;
  return source;
}

}  // namespace platform
