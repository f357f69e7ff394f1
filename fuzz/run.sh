#!/usr/bin/env bash
# Builds the fuzz programs when needed (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer
# in build-fuzz/) and runs one target for a while, then prints a summary (see fuzz/README.md):
#   fuzz/run.sh TARGET [SECONDS]      TARGET: inistore options probe transcode jobbuilder
#   fuzz/run.sh TARGET -- FILE...     replays the files once (a reproducer, say) and stops
# The corpus grows in build-fuzz/fuzz-corpus/TARGET; a finding is written to
# build-fuzz/fuzz-findings/TARGET/ and the exit status is then 1.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
TARGETS="inistore options probe transcode jobbuilder"
if [[ $# -lt 1 || " $TARGETS " != *" $1 "* ]]; then
  echo "usage: $0 TARGET [SECONDS] | $0 TARGET -- FILE...   (TARGET: $TARGETS)" >&2
  exit 2
fi
TARGET="$1"
SECONDS_TO_RUN="${2:-60}"

export FUZZ=1
BUILD_DIR="${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
source "$ROOT/scripts/setup.sh" >/dev/null
"$ROOT/fuzz/make_seeds.sh" "$BUILD_DIR/fuzz-seeds" "$BUILD_DIR/fixtures"

case "$TARGET" in
  probe | transcode) DICT=media.dict ;;
  *) DICT="$TARGET.dict" ;;
esac
case "$TARGET" in
  transcode | jobbuilder) MAX_LEN=65536 TIMEOUT=60 ;;
  probe) MAX_LEN=65536 TIMEOUT=30 ;;
  *) MAX_LEN=8192 TIMEOUT=10 ;;
esac
CORPUS="$BUILD_DIR/fuzz-corpus/$TARGET"
FINDINGS="$BUILD_DIR/fuzz-findings/$TARGET"
LOG="$BUILD_DIR/fuzz-$TARGET.log"
mkdir -p "$CORPUS" "$FINDINGS"
# The job builder runs its jobs on the sample clip.
export VC_FUZZ_CLIP="$BUILD_DIR/fixtures/av.mp4"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The targets' work files: in memory when the machine has it.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
PROGRAM="$BUILD_DIR/fuzz/fuzz_$TARGET"

if [[ "$SECONDS_TO_RUN" == "--" ]]; then
  shift 2
  exec "$PROGRAM" -runs=1 "$@"
fi

set +e
"$PROGRAM" -max_total_time="$SECONDS_TO_RUN" -dict="$ROOT/fuzz/dict/$DICT" -max_len="$MAX_LEN" \
  -timeout="$TIMEOUT" -rss_limit_mb=2560 -artifact_prefix="$FINDINGS/" -print_final_stats=1 \
  -reload=0 "$CORPUS" "$BUILD_DIR/fuzz-seeds/$TARGET" >"$LOG" 2>&1
status=$?
set -e

echo "== fuzz $TARGET: $SECONDS_TO_RUN s, log $LOG"
last="$(grep -E '^#[0-9]+' "$LOG" | tail -1 || true)"
cov="$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")"
ft="$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")"
corp="$(sed -nE 's/.* corp: ([0-9]+\/[0-9]+[a-zA-Z]*).*/\1/p' <<<"$last")"
runs="$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$LOG")"
speed="$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$LOG")"
echo "executions:     ${runs:-?} (${speed:-?} per second)"
echo "coverage:       cov ${cov:-?} edges, ft ${ft:-?} features, corpus ${corp:-?}"
if ((status != 0)); then
  echo "FINDING (exit status $status):"
  grep -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|FUZZ FINDING:|SUMMARY:' "$LOG" | head -8
  grep -E 'Test unit written to|^artifact_prefix' "$LOG" | sed 's/^/  /'
  echo "replay:         fuzz/run.sh $TARGET -- FILE     minimise: $PROGRAM -minimize_crash=1 -runs=10000 FILE"
  exit 1
fi
echo "no finding"
