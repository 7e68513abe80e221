# Sourced by the benchmark scripts: builds benchmark targets (Release) in
# the build folder given as the script's first argument (default: build/bench).
# Sets root and build.
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/bench"}

build_bench() {
  generator=
  if command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
  fi
  # shellcheck disable=SC2086
  cmake -S "$root" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release -DINSTALLER_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" --target "$@"
}
