#!/usr/bin/env bash
# Sets everything up, builds the plug-ins for Linux and Windows, lays them out
# in dist/ and renders the bundled demo loop through the Linux ones.
source "$(dirname "$0")/deps.sh"
quolva_install_packages

build="$QUOLVA_ROOT/build/release"
cmake -S "$QUOLVA_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUOLVA_BUILD_TESTS=OFF -DQUOLVA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$QUOLVA_JOBS"
quolva_build_windows

# One folder per system; its contents go straight into that system's CLAP folder.
dist="$QUOLVA_ROOT/dist"
rm -rf "$dist/linux-x86_64" "$dist/windows-x64"
cmake --install "$build" --prefix "$dist/linux-x86_64" >/dev/null
cmake --install "$QUOLVA_ROOT/build/windows" --prefix "$dist/windows-x64" >/dev/null
echo "Plug-ins, version $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt"):"
echo "  $dist/linux-x86_64/   -> ~/.clap"
echo "  $dist/windows-x64/    -> %COMMONPROGRAMFILES%\\CLAP"

out="$QUOLVA_ROOT/out/demo"
mkdir -p "$out"
python3 "$QUOLVA_ROOT/tools/make_demo_loop.py" "$out/loop.wav"
host="$build/host/quolva-host"
radeda="$build/clap/Radeda.clap"

render() {
  local plugin="$1" name="$2"; shift 2
  "$host" render "$plugin" "$out/loop.wav" "$out/$name.wav" "$@"
  echo "$out/$name.wav"
}

echo "Demo loop: $out/loop.wav"
echo "Rendered:"
render "$radeda" radeda-quarter-repeat --set Active=1 --set BPM=120 --set Beats=1 --set Division=4
render "$radeda" radeda-stutter-retrigger --set Active=1 --set BPM=120 --set Beats=1 --set Division=16 --set Release=0.3 --set Hold=0.5 \
  --at 2.0 Retrigger=1 --at 2.5 Retrigger=0 --at 4.0 Retrigger=1
render "$radeda" radeda-varispeed-down --set Active=1 --set BPM=120 --set Beats=2 --set Division=4 --set Varispeed=1 --set Speed=0.5 --at 6.0 Active=0
if [ -f "$build/clap/Zivaz.clap" ]; then
  zivaz="$build/clap/Zivaz.clap"
  render "$zivaz" zivaz-crushed --set Downsample=8 --set Distort=0.4 --set "Post Clip=0.5"
  render "$zivaz" zivaz-noisy-sweep --set Downsample=2 --set "Input Noise=0.6" --set "Output Noise=0.3" --at 2.0 Downsample=6 --at 4.0 Downsample=12 --at 6.0 Downsample=16
fi
