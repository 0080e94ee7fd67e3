#!/usr/bin/env bash
# tools/make-animation.sh [build dir] [output.gif]: the README's animated picture.
#
# Runs the demo from data/ on a virtual X server (as ./run does without a display),
# grabs its window a few times a second with vs_screenshot, and assembles the pictures
# into a small looping GIF. Needs the demo and vs_screenshot built in the build
# directory (./run builds both in build/release), ImageMagick and gifsicle
# (apt-get install imagemagick gifsicle).
#
#   VS_ANIMATION_PICTURES   how many pictures (default 24)
#   VS_ANIMATION_INTERVAL   seconds between them (default 0.3)
#   VS_ANIMATION_ARGS       options for the demo (default --no-music)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
out=${2:-docs/animation.gif}
pictures=${VS_ANIMATION_PICTURES:-24}
interval=${VS_ANIMATION_INTERVAL:-0.3}
read -r -a demo_args <<<"${VS_ANIMATION_ARGS:---no-music}"
exe="$PWD/$build/vertexshadows"
grab="$PWD/$build/vs_screenshot"
for tool in "$exe" "$grab"; do
  [ -x "$tool" ] || { echo "make-animation: $tool is not built" >&2; exit 1; }
done
for tool in convert gifsicle; do
  command -v "$tool" >/dev/null || { echo "make-animation: $tool is missing (apt-get install imagemagick gifsicle)" >&2; exit 1; }
done

source tools/xvfb.sh
vs_ensure_display
work=$(mktemp -d)
(cd data && QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy exec "$exe" "${demo_args[@]}") &
demo=$!
trap 'kill "$demo" 2>/dev/null || true; rm -rf "$work"' EXIT

# The window shows "FPS: n" once the first second of frames is done.
window=""
for _ in $(seq 300); do
  kill -0 "$demo" 2>/dev/null || { echo "make-animation: the demo ended early" >&2; exit 1; }
  window=$(xwininfo -root -children 2>/dev/null | grep -E '"FPS: [0-9]+"' | awk '{print $1}' | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "make-animation: no window with a frame rate appeared" >&2; exit 1; }

for i in $(seq -w 1 "$pictures"); do
  "$grab" "$window" "$work/picture-$i.png"
  sleep "$interval"
done
kill "$demo" 2>/dev/null || true

delay=$(awk -v s="$interval" 'BEGIN { printf "%d", s * 100 + 0.5 }')
convert -delay "$delay" -loop 0 "$work"/picture-*.png -resize 400x300 -colors 96 "$work/raw.gif"
gifsicle -O3 --colors 128 --lossy=40 "$work/raw.gif" -o "$out"
echo "make-animation: $out, $(stat -c %s "$out") bytes, $pictures pictures"
