#!/usr/bin/env python3
"""`cmake --install` puts exactly our two modules into the user's CLAP folder.

1. A fresh configuration with HOME pointing into the work folder must choose
   $HOME/.clap as its install prefix.
2. Installing the given build tree into a folder must place Radeda.clap and
   Zivaz.clap there, nothing else, each identical to the module built.
"""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cmake", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("modules", nargs="+")
    args = ap.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    home = os.path.join(args.work, "home")
    os.makedirs(home)
    faults = []

    fresh = os.path.join(args.work, "fresh-tree")
    env = dict(os.environ, HOME=home)
    subprocess.run([args.cmake, "-S", args.source, "-B", fresh, "-DQUOLVA_BUILD_TESTS=OFF",
                    "-DQUOLVA_BUILD_BENCH=OFF"], env=env, check=True, capture_output=True)
    cache = open(os.path.join(fresh, "CMakeCache.txt")).read()
    prefix = re.search(r"^CMAKE_INSTALL_PREFIX:PATH=(.*)$", cache, re.M).group(1)
    print(f"default install prefix with HOME={home}: {prefix}")
    if prefix != os.path.join(home, ".clap"):
        faults.append(f"the default install prefix is {prefix}, not $HOME/.clap")

    dest = os.path.join(args.work, "clap-folder")
    subprocess.run([args.cmake, "--install", args.build, "--prefix", dest], check=True, capture_output=True)
    installed = sorted(os.listdir(dest))
    wanted = sorted(os.path.basename(m) for m in args.modules)
    print(f"installed into {dest}: {installed}")
    if installed != wanted:
        faults.append(f"installed {installed}, wanted exactly {wanted}")
    for m in args.modules:
        target = os.path.join(dest, os.path.basename(m))
        if os.path.exists(target) and not filecmp.cmp(m, target, shallow=False):
            faults.append(f"{target} differs from the built {m}")

    for f in faults:
        print(f"FAULT: {f}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
