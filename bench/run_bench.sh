#!/usr/bin/env bash
# Speed comparison of the engine with the ffmpeg tool: the same jobs on the same 1080p input, the
# engine side through the command-line program (kvc convert, the whole batch path) where an output
# profile expresses the job exactly, and through bench/engine_run (one bare task) where none does; run alternately (engine, ffmpeg, engine, ffmpeg, ...), each run measured for wall
# time and peak resident memory by /usr/bin/time. Prints per job the medians of both sides and
# their ratios (engine / ffmpeg). Reports only: nothing here judges the timings, and the exit
# status is 1 only when an output is broken (checked with ffprobe) or a run failed.
#
#   bench/run_bench.sh [--runs N] [--jobs a,b,...] [--build DIR]
#     --runs N    runs per side and job (default 5)
#     --jobs LIST jobs to run, comma-separated (default a,b,c,d,e,f; see JOBS below)
#     --build DIR build folder holding cli/kvc and bench/engine_run (default: build/)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUNS=5
JOB_LIST="a,b,c,d,e,f"
BUILD="$ROOT/build"

usage() { sed -n '8,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }

while (($#)); do
  case "$1" in
    --runs) [[ $# -ge 2 ]] || usage; RUNS="$2"; shift 2 ;;
    --runs=*) RUNS="${1#*=}"; shift ;;
    --jobs) [[ $# -ge 2 ]] || usage; JOB_LIST="$2"; shift 2 ;;
    --jobs=*) JOB_LIST="${1#*=}"; shift ;;
    --build) [[ $# -ge 2 ]] || usage; BUILD="$2"; shift 2 ;;
    --build=*) BUILD="${1#*=}"; shift ;;
    -h|--help) usage ;;
    *) echo "run_bench.sh: unknown argument '$1'" >&2; usage ;;
  esac
done
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "run_bench.sh: --runs needs a positive number" >&2; exit 2; }
BUILD="$(cd "$BUILD" 2>/dev/null && pwd)" || { echo "run_bench.sh: no build folder '$BUILD'" >&2; exit 2; }

ENGINE="$BUILD/bench/engine_run"
KVC="$BUILD/cli/kvc"
for program in "$ENGINE" "$KVC"; do
  if [[ ! -x "$program" ]]; then
    echo "run_bench.sh: $program is missing; build first (./test, or cmake --build $BUILD)" >&2
    exit 2
  fi
done
for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "run_bench.sh: '$tool' is missing (Debian packages ffmpeg and time; scripts/setup.sh installs them)" >&2
    exit 2
  }
done

# ---- Jobs --------------------------------------------------------------------------------------
# Per job: a title, the output file's extension, the streams the output must hold (ffprobe's
# codec_type:codec_name, in stream order), and the output options of each side. Both sides get
# the same input options (COMMON_IN) and the same thread setting: 0, automatic thread counts for
# every decoder and encoder, which is what the engine uses. Bit rates go to the engine in bit/s
# through vb/ab, as the component passes them.
#
# Job b: both sides name the x264 preset "medium". The engine passes libx264 nothing but the
# generic options it was given plus its thread count, so without a preset option it would run
# libx264's own default, which is also "medium"; naming it keeps the two sides equal should that
# default ever change. Remaining differences on the ffmpeg side: it hands the decoded pictures'
# colour description and chroma siting to the encoder (written into the stream headers only), and
# scales inside its filter graph, whose scaler may use slice threads.
#
# Job c: "vn" is an output option on both sides, as the component sets it. The ffmpeg tool then
# leaves the unused video stream discarded in its demuxer; whatever the engine does with it is
# part of what is measured.
#
# Jobs a and c run through kvc convert: an output profile with its parameters set on the command
# line (KVC_ARGS, "|"-separated), converting as the desktop's Start does. The profile decides every
# option the engine gets; FFMPEG_OUT gives the tool the same ones (a: the 4:3 aspect the full-screen
# zoom writes, the profile's 48000 Hz; both keep the source's frame rate and channels). Jobs b and
# d have no profile form and run one bare task through engine_run (ENGINE_OUT): b's profiles add
# device tunings that the tool cannot be given in the same words, and no profile copies streams.
COMMON_IN=(-threads 0)
declare -A TITLE EXT EXPECT ENGINE_OUT KVC_ARGS FFMPEG_OUT TARGET ENGINE_TIME
TITLE[a]="MPEG-4 320x240 768k + AAC 128k, MP4"
EXT[a]=mp4
EXPECT[a]="video:mpeg4 audio:aac"
KVC_ARGS[a]="--profile|2602|--set|size=320x240|--set|vbitrate=768|--set|fps=as source|--set|rate=48000|--set|channels=as source|--set|abitrate=128|--zoom|full"
FFMPEG_OUT[a]="-c:v mpeg4 -s 320x240 -b:v 768k -aspect 4:3 -c:a aac -b:a 128k -ar 48000 -threads 0"

TITLE[b]="H.264 1280x720 1500k + AAC 128k, MP4"
EXT[b]=mp4
EXPECT[b]="video:h264 audio:aac"
ENGINE_OUT[b]="-vcodec libx264 -preset medium -s 1280x720 -vb 1500000 -acodec aac -ab 128000 -threads 0"
FFMPEG_OUT[b]="-c:v libx264 -preset medium -s 1280x720 -b:v 1500k -c:a aac -b:a 128k -threads 0"

TITLE[c]="audio only to MP3 128k"
EXT[c]=mp3
EXPECT[c]="audio:mp3"
KVC_ARGS[c]="--profile|2700|--set|abitrate=128|--set|rate=48000|--set|channels=2"
FFMPEG_OUT[c]="-vn -c:a libmp3lame -b:a 128k -ar 48000 -ac 2 -threads 0"

TITLE[d]="stream copy to MKV"
EXT[d]=mkv
EXPECT[d]="video:h264 audio:aac"
ENGINE_OUT[d]="-vcodec copy -acodec copy -threads 0"
FFMPEG_OUT[d]="-c:v copy -c:a copy -threads 0"

# Jobs e and f: job a with frame effects and a text mark, and with the text mark alone. The tool
# gets the comparable filters ahead of its scaler: eq for the colour change, drawtext for the mark.
# Job e's target is 1.15x the tool; job f's is 1.05x job a's engine time (the plain conversion),
# printed below the table.
TITLE[e]="job a + brightness, contrast, text mark"
EXT[e]=mp4
EXPECT[e]="${EXPECT[a]}"
KVC_ARGS[e]="${KVC_ARGS[a]}|--brightness|300|--contrast|20|--text|Hello"
FFMPEG_OUT[e]="-vf eq=brightness=0.1:contrast=1.2,drawtext=font=Sans:text=Hello,scale=320:240 -c:v mpeg4 -b:v 768k -aspect 4:3 -c:a aac -b:a 128k -ar 48000 -threads 0"
TARGET[e]=1.15

TITLE[f]="job a + text mark"
EXT[f]=mp4
EXPECT[f]="${EXPECT[a]}"
KVC_ARGS[f]="${KVC_ARGS[a]}|--text|Hello"
FFMPEG_OUT[f]="-vf drawtext=font=Sans:text=Hello,scale=320:240 -c:v mpeg4 -b:v 768k -aspect 4:3 -c:a aac -b:a 128k -ar 48000 -threads 0"

IFS=, read -r -a JOBS <<<"$JOB_LIST"
for job in "${JOBS[@]}"; do
  [[ -n "${TITLE[$job]+set}" ]] || { echo "run_bench.sh: unknown job '$job' (a to f)" >&2; exit 2; }
done

# ---- Input clip (cached) -----------------------------------------------------------------------
source "$ROOT/bench/input_clip.sh"
INPUT="$(make_input_clip "$BUILD")"

WORK="$(mktemp -d "$BUILD/bench-run.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
cat "$INPUT" >/dev/null  # into the page cache before the first timed run

# ---- Measuring ---------------------------------------------------------------------------------

# The streams of a file as "type:codec ..." in stream order, and whether it lasts about as long
# as the input (a truncated output is broken too). Prints the reason and returns 1 when not.
check_output() {
  local file="$1" expect="$2" streams duration
  if [[ ! -s "$file" ]]; then echo "no output file"; return 1; fi
  streams="$(ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 "$file" |
    awk -F, '{ printf "%s%s:%s", (NR > 1 ? " " : ""), $2, $1 }')" || { echo "ffprobe cannot read it"; return 1; }
  if [[ "$streams" != "$expect" ]]; then echo "streams '$streams', expected '$expect'"; return 1; fi
  duration="$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")"
  if ! awk -v d="$duration" 'BEGIN { exit !(d + 0 >= 9.5) }'; then
    echo "lasts ${duration:-?} s of 10 s"; return 1
  fi
}

# Runs one command under /usr/bin/time; appends "seconds kilobytes" to the side's result file.
# Returns the command's status; its messages are kept in $WORK/<side>.log.
timed_run() {
  local side="$1" results="$2"; shift 2
  local timing="$WORK/$side.time" status=0
  /usr/bin/time -f '%e %M' -o "$timing" "$@" >"$WORK/$side.log" 2>&1 || status=$?
  if ((status == 0)); then tail -n 1 "$timing" >>"$results"; fi
  return "$status"
}

# Median of the n-th column of a result file.
median() {
  sort -g -k"$2,$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
    END { if (NR == 0) exit 1; if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
seconds() { awk -v s="$1" 'BEGIN { printf "%.2f", s }'; }
megabytes() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo "Input: $INPUT"
echo "Engine: $KVC convert (jobs a, c), $ENGINE (jobs b, d)"
echo "Runs per side and job: $RUNS"
echo

declare -A ROW
any_failed=0
for job in "${JOBS[@]}"; do
  read -r -a ffmpeg_out <<<"${FFMPEG_OUT[$job]}"
  ffmpeg_file="$WORK/ffmpeg-$job.${EXT[$job]}"
  if [[ -n "${KVC_ARGS[$job]+set}" ]]; then
    # An empty settings folder of its own: the profile's defaults plus the values given here,
    # for this run only. Outputs are named after the input; the file is removed before each run.
    IFS='|' read -r -a kvc_args <<<"${KVC_ARGS[$job]}"
    mkdir -p "$WORK/kvc-settings"
    engine_file="$WORK/kvc-$job/$(basename "${INPUT%.*}")_(new).${EXT[$job]}"
    engine_cmd=("$KVC" convert -q --settings "$WORK/kvc-settings" --out "$WORK/kvc-$job"
      "${kvc_args[@]}" "$INPUT")
  else
    read -r -a engine_out <<<"${ENGINE_OUT[$job]}"
    engine_file="$WORK/engine-$job.${EXT[$job]}"
    engine_cmd=("$ENGINE" -loglevel error "${COMMON_IN[@]}" -i "$INPUT" "${engine_out[@]}" "$engine_file")
  fi
  ffmpeg_cmd=(ffmpeg -nostdin -y -loglevel error -nostats "${COMMON_IN[@]}" -i "$INPUT"
    "${ffmpeg_out[@]}" "$ffmpeg_file")
  echo "Job $job: ${TITLE[$job]}"
  printf '  engine:'; printf ' %q' "${engine_cmd[@]}"; echo
  printf '  ffmpeg:'; printf ' %q' "${ffmpeg_cmd[@]}"; echo

  : >"$WORK/engine-$job.results"
  : >"$WORK/ffmpeg-$job.results"
  engine_failed="" ffmpeg_failed=""
  for ((run = 1; run <= RUNS; run++)); do
    for side in engine ffmpeg; do
      failed_var="${side}_failed"
      [[ -z "${!failed_var}" ]] || continue  # a broken side is not timed again
      file_var="${side}_file"
      rm -f "${!file_var}"
      if [[ $side == engine ]]; then cmd=("${engine_cmd[@]}"); else cmd=("${ffmpeg_cmd[@]}"); fi
      status=0
      timed_run "$side" "$WORK/$side-$job.results" "${cmd[@]}" || status=$?
      if ((status != 0)); then
        message="$(tail -n 1 "$WORK/$side.log")"
        printf -v "$failed_var" '%s' "run $run exited with status $status${message:+: $message}"
      elif ((run == 1)) && ! reason="$(check_output "${!file_var}" "${EXPECT[$job]}")"; then
        printf -v "$failed_var" '%s' "output: $reason"
      fi
      if [[ -n "${!failed_var}" ]]; then
        echo "  $side FAILED: ${!failed_var}"
        any_failed=1
      fi
    done
  done

  # Columns: engine s, ffmpeg s, time ratio, engine MB, ffmpeg MB, memory ratio, note. A side
  # that failed shows FAILED in place of its numbers and no ratio is given.
  cells=(FAILED FAILED - FAILED FAILED -)
  note=""
  if [[ -z "$engine_failed" ]]; then
    e_time="$(median "$WORK/engine-$job.results" 1)"
    e_mem="$(median "$WORK/engine-$job.results" 2)"
    cells[0]="$(seconds "$e_time")"
    cells[3]="$(megabytes "$e_mem")"
  else
    note="engine failed"
  fi
  if [[ -z "$ffmpeg_failed" ]]; then
    f_time="$(median "$WORK/ffmpeg-$job.results" 1)"
    f_mem="$(median "$WORK/ffmpeg-$job.results" 2)"
    cells[1]="$(seconds "$f_time")"
    cells[4]="$(megabytes "$f_mem")"
  else
    note="${note:+$note, }ffmpeg failed"
  fi
  if [[ -z "$engine_failed" && -z "$ffmpeg_failed" ]]; then
    cells[2]="$(ratio "$e_time" "$f_time")"
    cells[5]="$(ratio "$e_mem" "$f_mem")"
    target="${TARGET[$job]:-1.05}"
    if awk -v r="${cells[2]}" -v t="$target" 'BEGIN { exit !(r > t) }'; then note="time over ${target}x"; fi
    if awk -v r="${cells[5]}" 'BEGIN { exit !(r > 1.25) }'; then
      note="${note:+$note, }memory over 1.25x"
    fi
  fi
  ROW[$job]="$(printf '%-3s %-38s %8s %8s %7s %9s %9s %6s  %s' "$job" "${TITLE[$job]}" "${cells[@]}" "$note")"
  [[ -n "$engine_failed" ]] || ENGINE_TIME[$job]="$e_time"
  if [[ $job == a && -z "$engine_failed" ]]; then
    CHECKED_FILE="$engine_file"
    CHECKED_TIME="$e_time"
  fi
  echo
done

echo "Medians of $RUNS run(s); ratios are engine / ffmpeg (targets: time <= 1.05, job e 1.15; memory <= 1.25)"
printf '%-3s %-38s %8s %8s %7s %9s %9s %6s  %s\n' job task "engine s" "ffmpeg s" "time x" \
  "engine MB" "ffmpeg MB" "mem x" note
for job in "${JOBS[@]}"; do echo "${ROW[$job]}"; done
if [[ -n "${ENGINE_TIME[a]:-}" && -n "${ENGINE_TIME[f]:-}" ]]; then
  echo "Job f / job a, engine: $(ratio "${ENGINE_TIME[f]}" "${ENGINE_TIME[a]}") (target: at most 1.05)"
fi

# The batch checks every finished output against its job; its cost next to job a's conversion
# (target: under 2 % of it).
if [[ -n "${CHECKED_FILE:-}" ]]; then
  check_line="$("$BUILD/bench/outputcheck_bench" "$INPUT" "$CHECKED_FILE" 21)"
  check_ms="${check_line%% ms*}"
  echo
  echo "Output check of job a's output: $check_line"
  echo "  = $(awk -v m="$check_ms" -v s="$CHECKED_TIME" 'BEGIN { printf "%.2f", m / 10 / s }') % of job a's engine time (target: under 2 %)"
fi
exit "$any_failed"
