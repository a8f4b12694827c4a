#!/usr/bin/env bash
# Wall time and peak memory of kestrovid-convert against the ffmpeg tool at the same
# encoder settings, per source and profile. Runs alternate between the two (A B, B A, ...)
# so that a busy machine hurts both alike; the medians and their ratios are printed.
#   bench/bench.sh [ROUNDS]        (default 3)
# Environment: KV_CONVERT  the converter to measure (default: build/release, else build/dev)
#              KV_BENCH_CACHE  where the generated sources are kept (default ~/.cache/kestrovid-bench)
# Goal: wall time <= 1.0x, peak memory <= 1.5x of the ffmpeg tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
cache=${KV_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrovid-bench}
convert=${KV_CONVERT:-}
if [ -z "$convert" ]; then
  for c in "$root/build/release/cli/kestrovid-convert" "$root/build/dev/cli/kestrovid-convert"; do
    [ -x "$c" ] && { convert=$c; break; }
  done
fi
[ -x "${convert:-}" ] || { echo "no kestrovid-convert built; set KV_CONVERT" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: apt-get install time (scripts/deps/bench.txt)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "the ffmpeg tool is missing" >&2; exit 1; }

mkdir -p "$cache"
gen() { # name, ffmpeg arguments...
  local out="$cache/$1"; shift
  if [ ! -s "$out" ]; then
    echo "generating $out" >&2
    ffmpeg -nostdin -v error -y "$@" "$out.part.${out##*.}"
    mv "$out.part.${out##*.}" "$out"
  fi
}
tone="sine=frequency=440:sample_rate=48000:duration=60"
gen src1080.mp4 -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=60" -f lavfi -i "$tone" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 160k
gen src576.avi -f lavfi -i "testsrc2=size=720x576:rate=25:duration=60" -f lavfi -i "$tone" \
  -c:v mpeg4 -q:v 4 -c:a libmp3lame -b:a 128k
gen src720.mp4 -f lavfi -i "testsrc2=size=1280x720:rate=30000/1001:duration=60" -f lavfi -i "$tone" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 160k

# The encoder settings kestrovid-convert uses, spelt out for the ffmpeg tool.
x264_hi="ref=1:partitions=none:me=dia:subme=2:merange=16:trellis=0:mixed-refs=0:fast-pskip=1:keyint=250:min-keyint=25:scenecut=40:bframes=3:b-adapt=1:direct=spatial:qcomp=0.6:qpmin=10:qpmax=51:qpstep=4:ipratio=1.41:cabac=1:slices=1:8x8dct=0:weightp=0:weightb=0:b-pyramid=none"
ffmpeg_cmd() { # profile source output; sets the array fcmd
  local size video
  if [ "$1" = hi ]; then
    size=480:272
    video=(-r 30000/1001 -c:v libx264 -profile:v main -level 21 -b:v 672k -bt 256k -maxrate 768k -bufsize 1536k
           -x264-params "$x264_hi")
  else
    size=368:192
    video=(-r 15000/1001 -c:v mpeg4 -b:v 384k -bt 96k -bf 0 -flags +mv4)
  fi
  local w=${size%:*} h=${size#*:}
  fcmd=(ffmpeg -nostdin -v error -i "$2" \
    -vf "scale=$w:$h:force_original_aspect_ratio=decrease:force_divisible_by=2:flags=bicubic,pad=$w:$h:(ow-iw)/2:(oh-ih)/2:black,setsar=0" \
    -fps_mode cfr "${video[@]}" -c:a aac -ar 24000 -ac 2 -b:a 128k -metadata title=bench -f psp "$3")
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
measure() { # command... ; prints "wall_seconds max_rss_kb cpu_seconds"
  rm -f "$work/out.mp4"
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  awk '{print $1, $2, $3 + $4}' "$work/time"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

printf "%-12s %-3s %9s %9s %6s %10s %10s %6s %8s\n" source prof "ours s" "ffmpeg s" ratio "ours MB" "ffmpeg MB" ratio "cpu ratio"
for src in src1080.mp4 src576.avi src720.mp4; do
  for prof in hi lo; do
    ours=(); theirs=()
    lo=(); [ "$prof" = lo ] && lo=(--lo)
    for ((r = 1; r <= rounds; r++)); do
      a() { ours+=("$(measure "$convert" "${lo[@]}" --output "$work/out.mp4" "$cache/$src")"); }
      b() { ffmpeg_cmd "$prof" "$cache/$src" "$work/out.mp4"; theirs+=("$(measure "${fcmd[@]}")"); }
      if ((r % 2)); then a; b; else b; a; fi
    done
    ow=$(printf '%s\n' "${ours[@]}" | awk '{print $1}' | median)
    fw=$(printf '%s\n' "${theirs[@]}" | awk '{print $1}' | median)
    om=$(printf '%s\n' "${ours[@]}" | awk '{print $2}' | median)
    fm=$(printf '%s\n' "${theirs[@]}" | awk '{print $2}' | median)
    oc=$(printf '%s\n' "${ours[@]}" | awk '{print $3}' | median)
    fc=$(printf '%s\n' "${theirs[@]}" | awk '{print $3}' | median)
    awk -v s="$src" -v p="$prof" -v ow="$ow" -v fw="$fw" -v om="$om" -v fm="$fm" -v oc="$oc" -v fc="$fc" 'BEGIN {
      printf "%-12s %-3s %9.2f %9.2f %6.2f %10.1f %10.1f %6.2f %8.2f\n", s, p, ow, fw, ow/fw, om/1024, fm/1024, om/fm, oc/fc }'
  done
done
