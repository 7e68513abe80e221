# Sourced by the sanitizer lanes and the fuzz and soak commands: how the
# sanitizer builds are made and how node runs the addons they build. Expects
# $root (the repository root).
#
# build/linux-asan  gcc, AddressSanitizer + UndefinedBehaviorSanitizer, -O1
# build/linux-tsan  gcc, ThreadSanitizer, -O1
# build/linux-fuzz  clang, the libFuzzer targets of test/fuzz/text only
#
# A finding stops the program: UBSan does not recover (-fno-sanitize-recover),
# ASan and TSan halt on the first report. Node itself is not instrumented: the
# sanitizer's runtime is preloaded into it, and the suppressions of
# test/sanitizers/ cover what its own uninstrumented code shows.

asan_dir=$root/build/linux-asan
tsan_dir=$root/build/linux-tsan
fuzz_dir=$root/build/linux-fuzz
sanitizer_flags=(-DCMAKE_BUILD_TYPE=Sanitize "-DCMAKE_C_FLAGS_SANITIZE=-O1 -g1" "-DCMAKE_CXX_FLAGS_SANITIZE=-O1 -g1")

# The code checks every allocation: a sanitizer allocator returns null like malloc does.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$root/test/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="allocator_may_return_null=1 halt_on_error=1 second_deadlock_stack=1 suppressions=$root/test/sanitizers/tsan.supp"

. "$root/scripts/compiler-cache.sh"

# sanitizer_build <dir> <target> <cmake args...>
sanitizer_build() {
  local dir=$1 target=$2
  shift 2
  cmake -S "$root" -B "$dir" -G Ninja "${sanitizer_flags[@]}" "${compiler_cache_args[@]}" "$@" >/dev/null
  ninja -C "$dir" -j2 "$target"
}

build_asan() { sanitizer_build "$asan_dir" all -DINSTALLER_SANITIZE=ON; }
build_tsan() { sanitizer_build "$tsan_dir" all -DINSTALLER_SANITIZE_THREAD=ON; }
build_fuzz() {
  sanitizer_build "$fuzz_dir" fuzz_targets -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DINSTALLER_FUZZ=ON
}

# Prefixes for a node command whose processes load the addons of that build
# (INSTALLER_BUILD_DIR) with the runtime preloaded: "${asan_node[@]}" node ...
# Only node gets the runtime; other programs would report their own leaks.
asan_node=(env "INSTALLER_BUILD_DIR=$asan_dir" "LD_PRELOAD=$(gcc -print-file-name=libasan.so)")
tsan_node=(env "INSTALLER_BUILD_DIR=$tsan_dir" "LD_PRELOAD=$(gcc -print-file-name=libtsan.so)")
