#!/bin/sh
# Builds the benchmarks (Release) and runs the installer-engine benchmark on a
# package of 1,000 files (about 10 MB) generated here with wixl and gcab.
# Usage: bench/engine_bench.sh [build folder]   (default: build/bench)
set -eu
. "$(dirname "$0")/common.sh"
build_bench engine_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1,000 files of 10 KB of varied text, in one component, in an external cabinet.
mkdir -p "$work/files"
files=""
i=0
while [ $i -lt 1000 ]; do
  awk -v seed=$i 'BEGIN { srand(seed); for (l = 0; l < 160; l++) { s = ""; for (w = 0; w < 8; w++) s = s sprintf("%07d ", int(rand() * 9999999)); print s } }' \
    > "$work/files/f$i.txt"
  files="$files f$i.txt"
  i=$((i + 1))
done
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">'
  echo '<Product Id="{6E2B9A31-0C4D-4F5E-8A71-93B2C4D5E6F7}" Name="Bench Files" Language="1033" Version="1.0.0" Manufacturer="Bench" UpgradeCode="{7F3CAB42-1D5E-4A6F-9B82-A4C3D5E6F708}">'
  echo '<Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />'
  echo '<Media Id="1" Cabinet="bench.cab" EmbedCab="no" />'
  echo '<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="Bench">'
  echo '<Component Id="Files" Guid="{8A4DBC53-2E6F-4B70-AC93-B5D4E6F70819}">'
  for f in $files; do echo "<File Id=\"$f\" Source=\"files/$f\" />"; done
  echo '</Component></Directory></Directory></Directory>'
  echo '<Feature Id="Main" Level="1"><ComponentRef Id="Files" /></Feature>'
  echo '</Product></Wix>'
} > "$work/bench.wxs"
(cd "$work" && wixl -o bench.msi bench.wxs && cd files && gcab -c -z -n ../bench.cab $files)
"$build/bench/engine_bench" "$work"
