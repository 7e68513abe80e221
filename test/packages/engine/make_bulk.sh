#!/bin/sh
# Makes <name>.msi (default bulk.msi) and its external cabinet <name>.cab in the
# current folder: one component of many files of varied text, so that an install
# takes a while. Every size is the same product.
# Usage: make_bulk.sh <wixl> <msibuild> <gcab> <file count> <lines per file> [<name>]
set -eu
wixl=$1 msibuild=$2 gcab=$3 count=$4 lines=$5 name=${6:-bulk}
rm -rf bulk-files && mkdir bulk-files
awk -v count="$count" -v lines="$lines" 'BEGIN {
  srand(7)
  for (f = 0; f < count; f++) {
    name = sprintf("bulk-files/b%04d.txt", f)
    for (l = 0; l < lines; l++) {
      s = ""
      for (w = 0; w < 8; w++) s = s sprintf("%07d ", int(rand() * 9999999))
      print s > name
    }
    close(name)
  }
}'
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">'
  echo '<Product Id="{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}" Name="Bulk Notes" Language="1033" Version="1.0.0"'
  echo '         Manufacturer="Kestrel" UpgradeCode="{9C1D2E3F-4A5B-4C6D-8E7F-0A1B2C3D4E60}">'
  echo '<Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />'
  echo "<Media Id=\"1\" Cabinet=\"$name.cab\" EmbedCab=\"no\" />"
  echo '<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="Bulk Notes">'
  echo '<Component Id="Bulk" Guid="{5E6F7A8B-9C0D-4E1F-A2B3-C4D5E6F70812}">'
  for file in bulk-files/*.txt; do
    id=$(basename "$file")
    echo "<File Id=\"$id\" Source=\"$file\" />"
  done
  echo '</Component></Directory></Directory></Directory>'
  echo '<Feature Id="Main" Level="1"><ComponentRef Id="Bulk" /></Feature>'
  echo '</Product></Wix>'
} > bulk.wxs
"$wixl" -o "$name.msi" bulk.wxs
# A preinstall pass stops after LaunchConditions, which wixl's sequences lack.
"$msibuild" "$name.msi" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('LaunchConditions', 100)"
(cd bulk-files && "$gcab" -c -z -n "../$name.cab" *.txt)
rm -rf bulk-files bulk.wxs
