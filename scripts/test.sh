#!/usr/bin/env bash
# Builds everything and runs every test: the Windows cross-build, the release
# build with all tests (those of the Windows modules under Wine included), then
# the engine, host, module and conformance tests and the editors' open/close
# cycles again under AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "$0")/deps.sh"
quolva_install_packages

quolva_build_windows

release="$QUOLVA_ROOT/build/test-release"
cmake -S "$QUOLVA_ROOT" -B "$release" -DCMAKE_BUILD_TYPE=Release -DQUOLVA_WINDOWS_BUILD="$QUOLVA_ROOT/build/windows" >/dev/null
cmake --build "$release" -j "$QUOLVA_JOBS"
(cd "$release" && ctest --output-on-failure -j "$QUOLVA_JOBS")

sanitize="$QUOLVA_ROOT/build/test-sanitize"
cmake -S "$QUOLVA_ROOT" -B "$sanitize" -DCMAKE_BUILD_TYPE=Debug -DQUOLVA_SANITIZE=ON -DQUOLVA_BUILD_BENCH=OFF >/dev/null
cmake --build "$sanitize" -j "$QUOLVA_JOBS"
(cd "$sanitize" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$QUOLVA_JOBS" -L 'unit|host|module|conformance|editor-lifecycle')
