#!/usr/bin/env bash
# The preview player's figures on the bench clip (bench/input_clip.sh), in a 368x207 view on a
# virtual X server, and its CPU time against the ffplay tool playing the same file at the same
# window size on the same server, in the same run (alternating). Sound goes to SDL's disk driver
# writing to /dev/null on both sides (real-time pace, no sound card needed). Reports only.
#   bench/player_bench.sh [--runs N] [--build DIR]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUNS=3
BUILD="$ROOT/build"
while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --build) BUILD="$(cd "$2" && pwd)"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--build DIR]" >&2; exit 2 ;;
  esac
done

# Everything below runs inside one virtual X server.
if [[ -z "${VC_PLAYER_BENCH_XVFB:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1280x720x24" env VC_PLAYER_BENCH_XVFB=1 "$0" --runs "$RUNS" --build "$BUILD"
fi

source "$ROOT/bench/input_clip.sh"
INPUT="$(make_input_clip "$BUILD")"
cat "$INPUT" >/dev/null  # into the page cache
BENCH="$BUILD/bench/player_bench"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null

echo "Input: $INPUT"
echo "== figures (one play, one series of paused seeks) =="
"$BENCH" play "$INPUT"
"$BENCH" seek "$INPUT"

# CPU seconds (user + system) of one whole run of a command.
TIMES="$(mktemp)"
trap 'rm -f "$TIMES"' EXIT
cpu_of() {
  /usr/bin/time -f '%U %S' -o "$TIMES" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%.2f\n", $1 + $2 }' "$TIMES"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== CPU time of a whole play, $RUNS runs per side, alternating =="
ours=() theirs=()
for ((i = 1; i <= RUNS; i++)); do
  ours+=("$(cpu_of "$BENCH" play "$INPUT")")
  theirs+=("$(cpu_of ffplay -autoexit -x 368 -y 207 -loglevel error "$INPUT")")
  echo "run $i: player ${ours[-1]} s, ffplay ${theirs[-1]} s"
done
m_ours="$(printf '%s\n' "${ours[@]}" | median)"
m_theirs="$(printf '%s\n' "${theirs[@]}" | median)"
awk -v a="$m_ours" -v b="$m_theirs" 'BEGIN {
  printf "median CPU: player %.2f s, ffplay %.2f s, ratio %.2f (target at most 1.2)\n", a, b, (b > 0 ? a / b : 0) }'
