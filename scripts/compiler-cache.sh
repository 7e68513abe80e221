# Sourced by the build scripts: every build of this checkout goes through one
# compiler cache, build/ccache, so that a build which compiles what another build
# already compiled with the same compiler and flags (a release build after its
# lane's build, say) takes the objects from it. Expects $root.
compiler_cache_args=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$root/build/ccache} CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
  export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-4G}
  compiler_cache_args=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
