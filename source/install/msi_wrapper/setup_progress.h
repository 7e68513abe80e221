// The setup engine's view of Windows Installer's message stream: the progress
// state that the external UI handler keeps, the parser of PROGRESS message
// texts ("1: 2 2: 17 3: 0 4: 0 "), and the record handed to the engine's
// progress callback. Pure functions, fed by the handler.
#pragma once

#include <optional>
#include <string>

#include "msi_wrapper/msi_api.h"

namespace installer::msi_wrapper {

enum class ProgressMessageKind : std::int32_t { Progress = 0, Error = 1, Warning = 2 };

struct SetupProgress {
  ProgressMessageKind kind = ProgressMessageKind::Progress;
  std::optional<std::int32_t> progress;  // percentage, for Progress only
  std::wstring action;                   // the last ActionStart text
  bool forward = true;
};

struct ProgressState {
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  std::int32_t step = 0;  // ticks per ActionData message, negative when running backward
  std::int32_t position = 0;
  std::wstring actionText;
  std::int32_t field1 = 0;
  std::int32_t field2 = 0;
  std::int32_t field3 = 0;
  std::int32_t field4 = 0;
  std::int32_t total = 0;  // ticks announced by the last reset; 0: no range yet
  std::int32_t reported = 0;
  bool forward = true;
  bool scriptPhase = false;
  bool stepOnActionData = false;
};

// Reads the fields of a PROGRESS text into field1..field4; fields the text
// does not reach keep their values. False for a text that is not one.
bool ParseProgressMessage(const std::wstring& text, ProgressState& state);

// Moves the state for one message; false when the handler leaves the message
// alone (a null text, a type the engine does not follow).
bool ApplyInstallMessage(ProgressState& state, UINT type, const wchar_t* text);

// (position - minimum) as a whole percentage of the range; 0 without a range.
std::int32_t ProgressPercentage(const ProgressState& state);

}  // namespace installer::msi_wrapper
