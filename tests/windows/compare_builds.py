#!/usr/bin/env python3
"""The Windows module under Wine must behave exactly as the Linux module.

Runs clap_probe natively on the Linux module and the cross-built clap_probe
under wine64 on the Windows module, then compares the two output folders file
for file and byte for byte: info.json (descriptor, extensions, ports,
parameters and their texts, states), scenarios.json and every rendered
scenario. Before comparing it checks that the Linux output is meaningful: no
host problems, every scenario that sets parameters changed the signal.

WINEPREFIX and WINEDEBUG come from the environment (the CTest test sets them).
"""
import argparse
import difflib
import json
import os
import shutil
import struct
import subprocess
import sys
import time


def run(cmd, label):
    start = time.monotonic()
    proc = subprocess.run(cmd, capture_output=True, text=True, errors="replace")
    took = time.monotonic() - start
    print(f"{label}: exit {proc.returncode} after {took:.1f} s")
    if proc.returncode != 0:
        sys.stdout.write(proc.stdout)
        sys.stdout.write(proc.stderr)
        raise SystemExit(f"{label} failed")
    return took


def windows_path(path):
    # Wine's default drive Z: is the Unix root.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def sanity(folder):
    """Problems that make the Linux output unfit as the reference."""
    errors = []
    info = json.load(open(os.path.join(folder, "info.json")))
    scen = json.load(open(os.path.join(folder, "scenarios.json")))
    if info["problems"]:
        errors.append(f"host problems in info: {info['problems']}")
    if not info["params"]:
        errors.append("no parameters")
    state = info["state"]
    if not (state["default_saved"] and state["changed_saved"] and state["loaded"] and state["resaved_equal"]):
        errors.append(f"state round trip failed: {state}")
    if state["loaded_values"] != state["changed_values"]:
        errors.append("loaded state differs from the saved one")
    names = [s["name"] for s in scen["scenarios"]]
    if not names:
        errors.append("no scenarios")
    for s in scen["scenarios"]:
        if s["problems"]:
            errors.append(f"{s['name']}: host problems {s['problems']}")
        if s["alters"] and not s["differs_from_input"]:
            errors.append(f"{s['name']}: sets parameters but the output equals the input")
        size = os.path.getsize(os.path.join(folder, s["name"] + ".f32"))
        if size != s["frames"] * 8:
            errors.append(f"{s['name']}: {size} bytes for {s['frames']} frames")
    expected = {"info.json", "scenarios.json", "input.f32"} | {n + ".f32" for n in names}
    if set(os.listdir(folder)) != expected:
        errors.append(f"unexpected files: {sorted(set(os.listdir(folder)) ^ expected)}")
    return errors, len(names)


def describe_audio_difference(a, b):
    if len(a) != len(b):
        return f"{len(a)} bytes against {len(b)}"
    count = len(a) // 4
    fa = struct.unpack(f"<{count}f", a)
    fb = struct.unpack(f"<{count}f", b)
    diff = [i for i in range(count) if struct.pack("<f", fa[i]) != struct.pack("<f", fb[i])]
    i = diff[0]
    return (f"{len(diff)} of {count} samples differ; first at frame {i // 2} "
            f"({'left' if i % 2 == 0 else 'right'}): Linux {fa[i]!r}, Windows {fb[i]!r}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-probe", required=True)
    ap.add_argument("--linux-module", required=True)
    ap.add_argument("--wine", required=True)
    ap.add_argument("--windows-probe", required=True)
    ap.add_argument("--windows-module", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()

    linux = os.path.join(args.work, "linux")
    windows = os.path.join(args.work, "windows")
    for d in (linux, windows):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)

    run([args.native_probe, args.linux_module, linux], "Linux probe")
    run([args.wine, args.windows_probe, windows_path(args.windows_module), windows_path(windows)],
        "Windows probe under Wine")

    reference_errors, scenarios = sanity(linux)
    errors = [f"Linux reference: {e}" for e in reference_errors]

    compared = 0
    for name in sorted(set(os.listdir(linux)) | set(os.listdir(windows))):
        pa, pb = os.path.join(linux, name), os.path.join(windows, name)
        if not os.path.exists(pb) or not os.path.exists(pa):
            errors.append(f"{name}: only in the {'Linux' if os.path.exists(pa) else 'Windows'} output")
            continue
        a, b = open(pa, "rb").read(), open(pb, "rb").read()
        compared += 1
        if a == b:
            continue
        if name.endswith(".json"):
            diff = difflib.unified_diff(a.decode().splitlines(), b.decode().splitlines(),
                                        "linux/" + name, "windows/" + name, lineterm="", n=1)
            errors.append(f"{name} differs:\n" + "\n".join(list(diff)[:60]))
        else:
            errors.append(f"{name} differs: {describe_audio_difference(a, b)}")

    for e in errors:
        print(f"FAULT: {e}")
    print(f"compared {compared} files ({scenarios} rendered scenarios), {len(errors)} faults")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
