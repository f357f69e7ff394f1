#!/usr/bin/env bash
# A folder of short clips: twelve 3 s 1280x720 30 fps H.264 + AAC clips converted to profile
# 2602 at 320x240 through kvc convert with one and with two conversions at a time, against the
# ffmpeg tool run once per file in a shell loop with the same options. Runs alternate between the
# three sides; prints the median wall time and peak memory of each and the ratios to the loop.
# Every output is checked with ffprobe after the first run of each side. Reports only.
#   bench/batch_clips.sh [--runs N] [--build DIR]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
RUNS=3
while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --build) BUILD="$2"; shift 2 ;;
    *) sed -n '2,7p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
KVC="$BUILD/cli/kvc"
[[ -x "$KVC" ]] || { echo "batch_clips.sh: no $KVC (run ./test first)" >&2; exit 2; }

# The clips, cached: the test pattern in a different hue each, with light noise.
CLIPS="$BUILD/bench-media/clips-720p"
if [[ ! -f "$CLIPS/clip12.mp4" ]]; then
  mkdir -p "$CLIPS"
  for i in $(seq 1 12); do
    ffmpeg -nostdin -loglevel error -y \
      -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=3,hue=h=$((30 * i)),noise=alls=8:allf=t" \
      -f lavfi -i "sine=frequency=$((300 + 40 * i)):sample_rate=48000:duration=3" \
      -c:v libx264 -preset veryfast -b:v 4M -pix_fmt yuv420p \
      -c:a aac -b:a 128k -shortest "$CLIPS/clip$i.mp4"
  done
fi
inputs=("$CLIPS"/clip{1..12}.mp4)

WORK="$(mktemp -d "$BUILD/batch-clips.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# The options profile 2602 gives at 320x240 (as bench/run_bench.sh job a).
KVC_ARGS=(--profile 2602 --set size=320x240 --set vbitrate=768 --set "fps=as source"
  --set rate=48000 --set "channels=as source" --set abitrate=128 --zoom full)
FFMPEG_OUT=(-c:v mpeg4 -s 320x240 -b:v 768k -aspect 4:3 -c:a aac -b:a 128k -ar 48000 -threads 0)

# The tool's side: one ffmpeg run per file, as a script of its own so that /usr/bin/time sees the
# whole loop.
{
  echo 'set -e; out="$1"'
  for f in "${inputs[@]}"; do
    printf 'ffmpeg -nostdin -y -loglevel error -nostats -threads 0 -i %q' "$f"
    printf ' %q' "${FFMPEG_OUT[@]}"
    printf ' "$out"/%q\n' "$(basename "$f")"
  done
} >"$WORK/loop.sh"

# Twelve outputs with video and audio of about 3 s each.
check() {
  local out="$1" n=0 d
  for f in "$out"/*.mp4; do
    d="$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$f")"
    [[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$f" | sort | tr '\n' ' ')" == "audio video " ]] || return 1
    awk -v d="$d" 'BEGIN { exit !(d >= 2.9) }' || return 1
    n=$((n + 1))
  done
  ((n == 12))
}

sides=(jobs1 jobs2 loop)
for side in "${sides[@]}"; do : >"$WORK/$side.results"; done
for ((run = 1; run <= RUNS; run++)); do
  for side in "${sides[@]}"; do
    out="$WORK/out-$side"
    rm -rf "$out"; mkdir -p "$out"
    case $side in
      jobs1 | jobs2)
        mkdir -p "$WORK/settings"
        cmd=("$KVC" convert -q --settings "$WORK/settings" --out "$out" "${KVC_ARGS[@]}"
          --jobs "${side#jobs}" "${inputs[@]}") ;;
      loop) cmd=(bash "$WORK/loop.sh" "$out") ;;
    esac
    /usr/bin/time -f '%e %M' -o "$WORK/time" "${cmd[@]}" >"$WORK/$side.log" 2>&1 ||
      { echo "$side failed: $(tail -n 1 "$WORK/$side.log")"; exit 1; }
    tail -n 1 "$WORK/time" >>"$WORK/$side.results"
    if ((run == 1)) && ! check "$out"; then echo "$side: the outputs are not twelve 3 s files with video and audio"; exit 1; fi
  done
done

median() {
  sort -g -k"$2,$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
loop_time="$(median "$WORK/loop.results" 1)"
loop_mem="$(median "$WORK/loop.results" 2)"
echo "Twelve 3 s 720p clips to profile 2602 at 320x240; medians of $RUNS run(s)"
printf '%-28s %8s %9s %8s %8s\n' side "wall s" "peak MB" "time x" "mem x"
for side in "${sides[@]}"; do
  t="$(median "$WORK/$side.results" 1)"
  m="$(median "$WORK/$side.results" 2)"
  case $side in
    jobs1) name="kvc convert --jobs 1" ;;
    jobs2) name="kvc convert --jobs 2" ;;
    loop) name="ffmpeg tool, once per file" ;;
  esac
  printf '%-28s %8.2f %9.1f %8.2f %8.2f\n' "$name" "$t" "$(awk -v k="$m" 'BEGIN{print k/1024}')" \
    "$(awk -v a="$t" -v b="$loop_time" 'BEGIN{print a/b}')" "$(awk -v a="$m" -v b="$loop_mem" 'BEGIN{print a/b}')"
done
