#!/usr/bin/env bash
# What a batch costs as it grows: kvc convert over 10, 1,000 and 10,000 one-second clips, with
# one and with two conversions at a time, reporting wall time, peak memory (/usr/bin/time) and
# the largest number of open file descriptors (sampled from /proc every 20 ms). Reports only.
#   bench/batch_scale.sh [--sizes 10,1000,10000] [--jobs 1,2] [--build DIR]
# The clips are hard links to one clip made with the ffmpeg tool, in a temporary folder; every
# output is removed after its run.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
SIZES=10,1000,10000
JOBS=1,2
while (($#)); do
  case "$1" in
    --sizes) SIZES="$2"; shift 2 ;;
    --jobs) JOBS="$2"; shift 2 ;;
    --build) BUILD="$2"; shift 2 ;;
    *) sed -n '2,7p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
KVC="$BUILD/cli/kvc"
[[ -x "$KVC" ]] || { echo "batch_scale.sh: no $KVC (run ./test first)" >&2; exit 2; }

WORK="$(mktemp -d "$BUILD/batch-scale.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc=size=320x240:rate=25:duration=1" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=1" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 64k -shortest "$WORK/one.mp4"

IFS=, read -r -a sizes <<<"$SIZES"
IFS=, read -r -a jobs <<<"$JOBS"
printf '%-8s %-5s %9s %10s %9s %s\n' files jobs "wall s" "peak MB" "max fds" result
for n in "${sizes[@]}"; do
  mkdir -p "$WORK/in-$n"
  for ((i = 0; i < n; i++)); do ln -f "$WORK/one.mp4" "$WORK/in-$n/clip$i.mp4"; done
  for j in "${jobs[@]}"; do
    rm -rf "$WORK/out" "$WORK/settings"
    mkdir -p "$WORK/out" "$WORK/settings"
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$KVC" convert -q --settings "$WORK/settings" \
      --out "$WORK/out" --profile 2602 --set size=160x120 --jobs "$j" "$WORK/in-$n"/*.mp4 \
      2>"$WORK/errors" &
    pid=$!
    # /usr/bin/time's child is kvc: sample its descriptors while it runs.
    max=0
    while kill -0 "$pid" 2>/dev/null; do
      child="$(pgrep -P "$pid" -x kvc || true)"
      if [[ -n "$child" ]]; then
        # The run may end between the two looks: no listing then counts as none.
        count="$( (ls "/proc/$child/fd" 2>/dev/null || true) | wc -l)"
        ((count > max)) && max=$count
      fi
      sleep 0.02
    done
    status=0
    wait "$pid" || status=$?
    read -r wall kb <"$WORK/time"
    outputs="$(find "$WORK/out" -name '*.mp4' | wc -l)"
    result="$outputs of $n converted"
    ((status == 0)) || result="$result, exit $status: $(tail -n 1 "$WORK/errors")"
    printf '%-8s %-5s %9s %10s %9s %s\n' "$n" "$j" "$wall" "$(awk -v k="$kb" 'BEGIN{printf "%.1f", k/1024}')" \
      "$max" "$result"
  done
  rm -rf "$WORK/in-$n"
done
