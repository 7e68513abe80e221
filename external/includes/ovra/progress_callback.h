// The progress sink that long native operations report to.
#pragma once

#include <cstdint>
#include <string>

#include "ovra/object.h"
#include "ovra/result.h"

namespace installer {

struct ProgressData {
  std::int32_t progress = 0;  // percentage or value computed by the reporter
  std::wstring action;        // text of the current installer action
  bool forward = true;        // direction of the progress bar
};

// May be called from any thread; both return 0 whatever the receiver does with
// the report.
struct IProgressCallback : ovra::IObject {
  static constexpr ovra::iid_t kIid = 0x293FDF27;
  virtual ovra::result_t progressChanged(const ProgressData& progress) = 0;
  virtual ovra::result_t completed(std::int32_t code) = 0;

 protected:
  ~IProgressCallback() = default;
};

}  // namespace installer
