#!/usr/bin/env bash
# Sets up, builds (Release) and runs the program.
#   scripts/run.sh [SOURCE [SUBTITLES]]
# With no file it uses the demo: a 10 s clip generated on first use and a Polish subtitle file.
# With a display it opens the window with the files loaded; without one it converts headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" release >/dev/null
bin="$root/build/release"

if [ $# -eq 0 ]; then
  demo_dir="${XDG_CACHE_HOME:-$HOME/.cache}/kestrovid-demo"
  mkdir -p "$demo_dir"
  if [ ! -s "$demo_dir/demo.mp4" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=10" \
      -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=10" \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$demo_dir/demo.tmp.mp4"
    mv "$demo_dir/demo.tmp.mp4" "$demo_dir/demo.mp4"
  fi
  cp -f "$root/resources/demo/demo_pl.srt" "$demo_dir/demo.srt"
  set -- "$demo_dir/demo.mp4" "$demo_dir/demo.srt"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$bin/app/kestrovid" "$@"
fi
echo "No display: converting headless."
args=()
[ $# -ge 2 ] && args+=(--subtitles "$2")
exec "$bin/cli/kestrovid-convert" "${args[@]}" "$1"
