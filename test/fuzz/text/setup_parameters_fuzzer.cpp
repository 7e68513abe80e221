// The setup-parameter parser: any text gives a list of pairs, or the one
// documented failure (a text ending in "name=").
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "msi_wrapper/setup_parameters.h"
#include "text_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using installer::msi_wrapper::ParseSetupParameters;
  try {
    const auto parameters = ParseSetupParameters(fuzz::TextFromInput(data, size));
    for (const auto& parameter : parameters) {
      if (parameter.name.empty()) __builtin_trap();  // an "=" without a name yields nothing
    }
    // What the engine is given is parsed again on its way: it must parse too.
    ParseSetupParameters(installer::msi_wrapper::FormatCommandLine(parameters));
  } catch (const std::out_of_range&) {
    // "invalid string position": the documented failure.
  }
  return 0;
}
