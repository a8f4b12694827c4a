#!/usr/bin/env bash
# Wall time and peak memory of kestrovid-convert against the ffmpeg tool at the same
# encoder settings, per source and profile. Runs alternate between the two (A B, B A, ...)
# so that a busy machine hurts both alike; the medians and their ratios are printed.
#   bench/bench.sh [ROUNDS] [PART]   (ROUNDS default 3; PART plain, subtitles or all, default all)
# "subtitles" burns a generated Polish SubRip file (a two-line cue every 3 s) into the Hi
# conversion of each source and compares it with the same conversion without subtitles and
# with the ffmpeg tool's subtitles filter burning the same file at the same encoder settings.
# Environment: KV_CONVERT  the converter to measure (default: build/release, else build/dev)
#              KV_BENCH_CACHE  where the generated sources are kept (default ~/.cache/kestrovid-bench)
# Goal: wall time <= 1.0x, peak memory <= 1.5x of the ffmpeg tool; subtitles add <= 10 % of
# wall time and take <= 1.0x the ffmpeg tool's time for the same burn-in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
part=${2:-all}
case "$part" in plain|subtitles|all) ;; *) echo "PART is plain, subtitles or all" >&2; exit 2 ;; esac
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

# A SubRip file for the 60 s sources: a two-line Polish cue every 3 s.
srt="$cache/bench_pl.srt"
if [ ! -s "$srt" ]; then
  awk 'BEGIN {
    split("Zażółć gęślą jaźń, proszę pana.|Gdzie jest ta łódź, którą widziałeś?|Źrebię pędzi przez łąkę o świcie.|Nie wiem, czy zdążymy przed zmrokiem.", a, "|")
    split("Może jutro spróbujemy jeszcze raz.|Ćma siadła na żółtym kwiecie.|Chodźmy już, robi się późno.|Słyszysz? Ktoś puka do drzwi.", b, "|")
    n = 0
    for (t = 1; t < 60; t += 3) {
      n++; e = t + 2
      printf "%d\r\n00:00:%02d,200 --> 00:00:%02d,700\r\n%s\r\n%s\r\n\r\n", n, t, e, a[(n-1)%4+1], b[(n-1)%4+1]
    }
  }' > "$srt.part"
  mv "$srt.part" "$srt"
fi

# The encoder settings kestrovid-convert uses, spelt out for the ffmpeg tool.
x264_hi="ref=1:partitions=none:me=dia:subme=2:merange=16:trellis=0:mixed-refs=0:fast-pskip=1:keyint=250:min-keyint=25:scenecut=40:bframes=3:b-adapt=1:direct=spatial:qcomp=0.6:qpmin=10:qpmax=51:qpstep=4:ipratio=1.41:cabac=1:slices=1:8x8dct=0:weightp=0:weightb=0:b-pyramid=none"
ffmpeg_cmd() { # profile source output [subtitle file]; sets the array fcmd
  local size video burn=""
  if [ "$1" = hi ]; then
    size=480:272
    video=(-r 30000/1001 -c:v libx264 -profile:v main -level 21 -b:v 672k -bt 256k -maxrate 768k -bufsize 1536k
           -x264-params "$x264_hi")
  else
    size=368:192
    video=(-r 15000/1001 -c:v mpeg4 -b:v 384k -bt 96k -bf 0 -flags +mv4)
  fi
  local w=${size%:*} h=${size#*:}
  # Burnt in at the source's size before scaling, as kestrovid-convert does.
  [ -n "${4:-}" ] && burn="subtitles=filename='$4':charenc=UTF-8,"
  fcmd=(ffmpeg -nostdin -v error -i "$2" \
    -vf "${burn}scale=$w:$h:force_original_aspect_ratio=decrease:force_divisible_by=2:flags=bicubic,pad=$w:$h:(ow-iw)/2:(oh-ih)/2:black,setsar=0" \
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

if [ "$part" != subtitles ]; then
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
fi

if [ "$part" != plain ]; then
  echo
  printf "%-12s %9s %9s %9s %8s %8s %9s %9s\n" source "plain s" "subs s" "ffmpeg s" "added" "vs ffm" "cpu added" "subs MB"
  for src in src1080.mp4 src576.avi src720.mp4; do
    plain=(); subs=(); theirs=()
    for ((r = 1; r <= rounds; r++)); do
      a() { plain+=("$(measure "$convert" --output "$work/out.mp4" "$cache/$src")"); }
      b() { subs+=("$(measure "$convert" --subtitles "$srt" --output "$work/out.mp4" "$cache/$src")"); }
      c() { ffmpeg_cmd hi "$cache/$src" "$work/out.mp4" "$srt"; theirs+=("$(measure "${fcmd[@]}")"); }
      case $((r % 3)) in 1) a; b; c ;; 2) c; b; a ;; 0) b; c; a ;; esac
    done
    pw=$(printf '%s\n' "${plain[@]}" | awk '{print $1}' | median)
    sw=$(printf '%s\n' "${subs[@]}" | awk '{print $1}' | median)
    fw=$(printf '%s\n' "${theirs[@]}" | awk '{print $1}' | median)
    sm=$(printf '%s\n' "${subs[@]}" | awk '{print $2}' | median)
    pc=$(printf '%s\n' "${plain[@]}" | awk '{print $3}' | median)
    sc=$(printf '%s\n' "${subs[@]}" | awk '{print $3}' | median)
    awk -v s="$src" -v pw="$pw" -v sw="$sw" -v fw="$fw" -v sm="$sm" -v pc="$pc" -v sc="$sc" 'BEGIN {
      printf "%-12s %9.2f %9.2f %9.2f %7.1f%% %7.2fx %8.1f%% %9.1f\n", s, pw, sw, fw, (sw/pw - 1) * 100, sw/fw, (sc/pc - 1) * 100, sm/1024 }'
  done
fi
