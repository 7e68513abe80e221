// Waiting for the bootstrapper to finish extracting the package.
#pragma once

namespace installer {

// Blocks until the bootstrapper's package-ready event is set, or returns at once when
// no bootstrapper created it ("bl\tMsi not ready: <error>" in the trace). Waits at most
// once per process: a concurrent first caller waits for that same wait, later callers
// return at once.
void WaitForMsiReady();

}  // namespace installer
