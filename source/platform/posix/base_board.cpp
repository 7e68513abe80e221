#include "platform/base_board.h"

#include <fstream>
#include <iterator>

namespace platform {
namespace {

// The value of a DMI attribute without its line end; false when unreadable or empty.
bool ReadDmiValue(const char* path, std::string& value) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  value.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  while (!value.empty() && value.back() == '\n') value.pop_back();
  return !value.empty();
}

class DmiBaseBoard final : public BaseBoardSource {
 public:
  bool ReadProductAndSerial(std::string& text) override {
    std::string product, serial;
    if (!ReadDmiValue("/sys/class/dmi/id/board_name", product) ||
        !ReadDmiValue("/sys/class/dmi/id/board_serial", serial)) {
      return false;
    }
    text = product + serial;
    return true;
  }
};

}  // namespace

BaseBoardSource& SystemBaseBoard() {
  static DmiBaseBoard source;
  return source;
}

}  // namespace platform
