#!/usr/bin/env python3
"""Checks what our Windows modules import and export, from `objdump -p`.

A module passes when it is a 64-bit PE DLL, imports only DLLs that every
Windows installation has in its system folder (so a user needs nothing beside
the .clap), and exports clap_entry and at most the framework's DllMain.

  check_pe.py --objdump OBJDUMP MODULE...
  check_pe.py --objdump OBJDUMP --reject-import FIXTURE --reject-export FIXTURE

With --reject-import/--reject-export the given files must fail the check for
that reason and no other: this shows the check catches both faults.
"""
import argparse
import re
import subprocess
import sys

# What the modules link against, all part of Windows itself:
#   kernel32  processes, memory, files, threads, DLL loading
#   user32    windows and their messages (the editor)
#   gdi32     device contexts and pixel formats (the editor's OpenGL context)
#   opengl32  OpenGL (the editor draws with NanoVG on OpenGL)
#   comdlg32  the file dialog the framework's editor code links in
#   msvcrt    the system C runtime MinGW-w64 targets (not a redistributable)
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll", "comdlg32.dll", "msvcrt.dll"}
REQUIRED_EXPORT = "clap_entry"
ALLOWED_EXPORTS = {"clap_entry", "DllMain"}


def read_pe(objdump, path):
    """(format, is_dll, imports, exports) of one file."""
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    fmt = re.search(r"file format (\S+)", out)
    chars = re.search(r"^Characteristics\s+0x[0-9a-f]+\n((?:\t.*\n)*)", out, re.M)
    is_dll = bool(chars and re.search(r"^\s*DLL\s*$", chars.group(1), re.M))
    imports = re.findall(r"^\s*DLL Name: (\S+)", out, re.M)
    exports = []
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s+\[\s*\d+\]\s+\S+\n)*)", out)
    if table:
        exports = re.findall(r"\]\s+(\S+)", table.group(1))
    return (fmt.group(1) if fmt else "?"), is_dll, imports, exports


def faults(objdump, path):
    """{kind: [messages]} of everything wrong with one file; kinds: format, import, export."""
    fmt, is_dll, imports, exports = read_pe(objdump, path)
    found = {}
    if fmt != "pei-x86-64" or not is_dll:
        found.setdefault("format", []).append(f"not a 64-bit Windows DLL ({fmt}, DLL flag {is_dll})")
    for dll in imports:
        if dll.lower() not in SYSTEM_DLLS:
            found.setdefault("import", []).append(f"imports {dll}, which is not a Windows system DLL")
    if not imports:
        found.setdefault("import", []).append("no import table found")
    for name in exports:
        if name not in ALLOWED_EXPORTS:
            found.setdefault("export", []).append(f"exports {name}")
    if REQUIRED_EXPORT not in exports:
        found.setdefault("export", []).append(f"does not export {REQUIRED_EXPORT}")
    print(f"{path}:\n  imports: {', '.join(imports) or '-'}\n  exports: {', '.join(exports) or '-'}")
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--reject-import", action="append", default=[])
    ap.add_argument("--reject-export", action="append", default=[])
    ap.add_argument("modules", nargs="*")
    args = ap.parse_args()

    failed = 0
    for path in args.modules:
        found = faults(args.objdump, path)
        for messages in found.values():
            for m in messages:
                print(f"  FAULT: {m}")
        failed += bool(found)
    for kind, paths in (("import", args.reject_import), ("export", args.reject_export)):
        for path in paths:
            found = faults(args.objdump, path)
            if set(found) != {kind}:
                print(f"  FAULT: expected a rejection for its {kind}s only, the check found {found or 'nothing'}")
                failed += 1
            else:
                print(f"  rejected as expected: {'; '.join(found[kind])}")
    checked = len(args.modules) + len(args.reject_import) + len(args.reject_export)
    if checked == 0:
        print("nothing to check")
        return 2
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
