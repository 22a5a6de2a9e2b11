#!/usr/bin/env bash
# Converts the bundled example document into a complete editor project.
# Called by `make demo` as: scripts/demo.sh build/korvex
#
# examples/example.psd (written by examples/make_example.cpp) holds a small
# character: two layer groups, a hidden layer, a "+head" pivot marker and a
# "root" layer. The demo converts it with the animation pack and the project
# switched on, the marker setting the head's pivot and the root layer as the
# origin, into demo-output/: example.png (the atlas), example.vtce (cell
# map), example.vtae (animation pack) and example.vtpj (project).
#
# The run uses a home folder of its own (demo-output/home), so an editor
# option file in your Documents folder does not change the demo: the
# documents carry the built-in editor settings. Earlier demo outputs are
# replaced.
set -eu

root="$(cd "$(dirname "$0")/.." && pwd)"
korvex="${1:-build/korvex}"
case "$korvex" in /*) ;; *) korvex="$root/$korvex" ;; esac
if [ ! -x "$korvex" ]; then
  echo "demo: $korvex not found; build it first with: make build" >&2
  exit 1
fi

out="$root/demo-output"
mkdir -p "$out/home"
rm -f "$out/example.png" "$out/example.vtce" "$out/example.vtae" "$out/example.vtpj"

cd "$root"
status=0
HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" "$korvex" \
  --inputfile examples/example.psd --outputpath demo-output/ \
  --out_vtae true --out_vtpj true --use_layer_pivot true --use_layer_root true || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: the conversion failed (exit code $status)" >&2
  exit 1
fi

echo
echo "Demo outputs in $out:"
echo "  example.png   texture atlas"
echo "  example.vtce  cell map"
echo "  example.vtae  animation pack"
echo "  example.vtpj  project (open this one in the editor)"
