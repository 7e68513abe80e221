#!/usr/bin/python3
"""Checks a Windows release build of the addon (scripts/build.sh win32|win64 --release).

Usage: check-windows-release.py BUILD_DIR ia32|x64 [--signed]

The module must be a DLL of the right machine exporting the Node-API entry; it
imports exactly the DLLs of source/install/installer_vesk/dependencies/windows.txt
and delay-loads only "node.exe" (with Node-API functions only); its version
resource carries package.json's version and description; it is stripped, with
its debug information in installer_vesk.node.debug, which it links to; with
--signed it carries a signature (verified by osslsigncode, not here).
Reads the PE file with pefile (Debian: python3-pefile).
"""
import json
import re
import subprocess
import sys
import zlib
from pathlib import Path

import pefile

ROOT = Path(__file__).resolve().parent.parent
MODULE_NAME = "installer_vesk.node"
PRODUCT_NAME = "installer_vesk"
EXPORTS = {"napi_register_module_v1", "node_api_module_get_api_version_v1"}
IMPORTS_FILE = ROOT / "source/install/installer_vesk/dependencies/windows.txt"
ARCHES = {
    "ia32": dict(machine=pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], magic=pefile.OPTIONAL_HEADER_MAGIC_PE,
                 nm="i686-w64-mingw32-nm", dll_characteristics=("DYNAMIC_BASE", "NX_COMPAT")),
    "x64": dict(machine=pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], magic=pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS,
                nm="x86_64-w64-mingw32-nm", dll_characteristics=("DYNAMIC_BASE", "NX_COMPAT", "HIGH_ENTROPY_VA")),
}

failures = []


def check(condition, what, detail=""):
    print(("ok:   " if condition else "FAIL: ") + what + ("" if condition or not detail else f" ({detail})"))
    if not condition:
        failures.append(what)


def section_names(pe):
    """Section names, long ones ("/N") resolved through the COFF string table."""
    strings_at = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
    names = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode()
        if name.startswith("/") and pe.FILE_HEADER.PointerToSymbolTable:
            offset = strings_at + int(name[1:])
            name = pe.__data__[offset:pe.__data__.find(b"\0", offset)].decode()
        names.append(name)
    return names


def delay_imports(pe, debug_file, nm):
    """{dll: [functions]} of the delay-import descriptors dlltool made. GNU ld leaves the
    image's delay-import directory empty, so the descriptors are found by their symbols,
    which the debug file keeps."""
    symbols = subprocess.run([nm, str(debug_file)], check=True, capture_output=True, text=True).stdout
    base = pe.OPTIONAL_HEADER.ImageBase
    pointer = 8 if pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
    found = {}
    for address, name in re.findall(r"^([0-9a-f]+) \w (__DELAY_IMPORT_DESCRIPTOR_\S+)$", symbols, re.M):
        descriptor = pe.get_data(int(address, 16) - base, 32)
        attributes, name_rva, _, _, names_rva = (int.from_bytes(descriptor[i:i + 4], "little") for i in range(0, 20, 4))
        if not attributes & 1:  # not a descriptor dlltool made
            found[name] = []
            continue
        functions = []
        for index in range(10000):
            entry = int.from_bytes(pe.get_data(names_rva + index * pointer, pointer), "little")
            if not entry:
                break
            functions.append(pe.get_string_at_rva(entry + 2).decode())  # past the hint
        found[pe.get_string_at_rva(name_rva).decode()] = functions
    return found


def main():
    if len(sys.argv) < 3 or sys.argv[2] not in ARCHES:
        sys.exit(__doc__)
    build_dir, arch, signed = Path(sys.argv[1]), ARCHES[sys.argv[2]], "--signed" in sys.argv[3:]
    module, debug_file = build_dir / MODULE_NAME, build_dir / (MODULE_NAME + ".debug")
    package = json.loads((ROOT / "package.json").read_text())
    pe = pefile.PE(str(module))

    check(pe.FILE_HEADER.Machine == arch["machine"] and pe.OPTIONAL_HEADER.Magic == arch["magic"],
          f"{sys.argv[2]} image ({'PE32+' if arch['magic'] == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 'PE32'})",
          f"machine {pe.FILE_HEADER.Machine:#x}, magic {pe.OPTIONAL_HEADER.Magic:#x}")
    check(pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"], "a DLL")
    for flag in arch["dll_characteristics"]:
        check(getattr(pe.OPTIONAL_HEADER, "IMAGE_DLLCHARACTERISTICS_" + flag), f"DllCharacteristics has {flag}")

    exports = {symbol.name.decode() for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols if symbol.name}
    check(EXPORTS <= exports, "exports " + ", ".join(sorted(EXPORTS)), f"exports: {sorted(exports)}")

    expected = sorted(line.strip().lower() for line in IMPORTS_FILE.read_text().splitlines()
                      if line.strip() and not line.startswith("#"))
    imports = sorted(entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    check(imports == expected, "imports exactly " + ", ".join(expected),
          f"imports {', '.join(imports)}; if deliberate, list them in {IMPORTS_FILE.relative_to(ROOT)}")

    version = package["version"]
    numbers = [int(n) for n in re.match(r"(\d+)\.(\d+)\.(\d+)", version).groups()]
    check(hasattr(pe, "VS_FIXEDFILEINFO"), "has a version resource")
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    if fixed:
        check((fixed.FileVersionMS, fixed.FileVersionLS) == (numbers[0] << 16 | numbers[1], numbers[2] << 16),
              f"numeric file version {'.'.join(map(str, numbers))}.0",
              f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}."
              f"{fixed.FileVersionLS >> 16}.{fixed.FileVersionLS & 0xFFFF}")
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    expected_strings = {"FileVersion": version, "ProductVersion": version, "ProductName": PRODUCT_NAME,
                        "FileDescription": package["description"], "OriginalFilename": MODULE_NAME}
    for key, value in expected_strings.items():
        check(strings.get(key) == value, f'version resource {key} = "{value}"', f'found "{strings.get(key)}"')

    names = section_names(pe)
    check(pe.FILE_HEADER.NumberOfSymbols == 0 and not any(n.startswith(".debug") for n in names),
          "stripped (no symbols, no debug sections)", f"{pe.FILE_HEADER.NumberOfSymbols} symbols, sections {names}")
    link = next((s for s, n in zip(pe.sections, names) if n == ".gnu_debuglink"), None)
    check(link is not None, "has a .gnu_debuglink section")
    debug_matches = False
    if link is not None:
        data = link.get_data()
        linked_name = data[:data.index(b"\0")].decode()
        crc_offset = (len(linked_name) + 1 + 3) & ~3
        crc = int.from_bytes(data[crc_offset:crc_offset + 4], "little")
        debug_matches = (linked_name == debug_file.name and debug_file.is_file()
                         and crc == zlib.crc32(debug_file.read_bytes()))
        check(debug_matches, f"links to {debug_file.name} (name and checksum match)",
              f"links to {linked_name}, crc {crc:#x}")
    debug_sections = subprocess.run([arch["nm"].replace("-nm", "-objdump"), "-h", str(debug_file)],
                                    check=True, capture_output=True, text=True).stdout
    check(".debug_info" in debug_sections, f"{debug_file.name} holds .debug_info")

    # The delay-import descriptors are read at the debug file's symbol addresses:
    # only meaningful when the debug file is this module's.
    if debug_matches:
        delayed = delay_imports(pe, debug_file, arch["nm"])
        check(list(delayed) == ["node.exe"], 'delay-loads "node.exe" only', f"delay-loads {list(delayed)}")
        node_api = delayed.get("node.exe", [])
        check(node_api and all(re.match(r"(napi|node_api)_", f) for f in node_api),
              f"delay-loaded functions are Node-API ({len(node_api)})", f"{node_api}")

    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if signed:
        check(security.Size > 0, "carries a signature")
    print(f"{module}: {module.stat().st_size} bytes; {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
