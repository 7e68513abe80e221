// The other process of the machine identifier tests.
//
//   machine_id_probe system FILE         what this computer gives: the raw facts and the
//                                        identifier, "key: value" lines
//   machine_id_probe                     creates "probe-started" in its working directory
#include <fstream>
#include <string>
#include <vector>

#include "machine_id/machine_id.h"
#include "ovra/strings.h"

namespace {

namespace id = installer::machine_id;

int Run(const std::vector<std::string>& arguments) {
  if (arguments.size() == 1) {
    std::ofstream("probe-started") << "started\n";
    return 0;
  }
  if (arguments.size() == 3 && arguments[1] == "system") {
    const id::Sources sources = id::SystemSources();
    const platform::DriveSerials disk = sources.drive.ReadSystemDrive();
    std::string board;
    const bool has_board = sources.board.ReadProductAndSerial(board);
    std::ofstream out(arguments[2], std::ios::binary);
    out << "ata: [" << disk.ata << "]\ndescriptor: [" << disk.descriptor << "]\n"
        << "board: " << (has_board ? "[" + board + "]" : "none") << "\n"
        << "virtual pc: " << sources.probes.VirtualPcGuestCall() << "\nvmware: " << sources.probes.VmwareBackdoor()
        << "\nvirtualbox: " << sources.probes.VirtualBoxDevice()
        << "\nhypervisor bit: " << sources.probes.HypervisorBit() << "\nidentifier: " << id::GenerateMachineId()
        << "\n";
    return 0;
  }
  return 64;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(ovra::Utf8FromWide(argv[i]));
  return Run(arguments);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv, argv + argc)); }
#endif
