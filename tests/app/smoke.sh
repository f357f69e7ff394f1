#!/usr/bin/env bash
# Starts the real videoconverter on a virtual X server with a sample file on its command line and a
# settings folder of its own, presses the Start button's accelerator (Alt+S) on the keyboard as a
# person would, waits for the batch to end, checks the output with ffprobe, then closes the window
# with Ctrl+Q and answers the exit question with Enter.
#   smoke.sh VIDEOCONVERTER FIXTURE_DIR
# Exit 0 when all held, 77 (skipped) when no X server can be started here, 1 otherwise.
set -euo pipefail
VC="$1"
FIXTURES="$2"

for tool in Xvfb xdotool ffprobe; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed, so no virtual X server can be driven here"
    exit 77
  fi
done

tmp="$(mktemp -d)"
xvfb_pid="" vc_pid=""
cleanup() {
  [[ -n "$vc_pid" ]] && kill -9 "$vc_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  echo "--- videoconverter's output:"
  cat "$tmp/vc.log" 2>/dev/null || true
  exit 1
}

# A free display: the server writes the number it took to the descriptor.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 100); do
  read -r -t 0.1 display <&3 && break || true
  kill -0 "$xvfb_pid" 2>/dev/null || break
done
if [[ -z "$display" ]]; then
  echo "SKIPPED: the virtual X server did not start: $(cat "$tmp/xvfb.log")"
  exit 77
fi
export DISPLAY=":$display"

mkdir -p "$tmp/settings" "$tmp/out" "$tmp/in" "$tmp/bin"
printf '[settings]\nOutPutDir=%s\n' "$tmp/out" >"$tmp/settings/keltovideoconverter.ini"
cp "$FIXTURES/av.mp4" "$tmp/in/my clip.mp4"
# The desktop's "open" handler, standing in for the file manager the finished batch opens.
printf '#!/bin/sh\necho "$@" >>"%s/opened"\n' "$tmp" >"$tmp/bin/xdg-open"
chmod +x "$tmp/bin/xdg-open"

PATH="$tmp/bin:$PATH" QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy \
  "$VC" --settings "$tmp/settings" "$tmp/in/my clip.mp4" >"$tmp/vc.log" 2>&1 &
vc_pid=$!

window="$(timeout 30 xdotool search --sync --onlyvisible --name 'Kelto Video Converter' | head -1)" ||
  fail "the main window did not appear"
output="$tmp/out/my clip_(new).mp4"
# The file is added just after the window shows; until then Start is disabled and the keys do
# nothing, so press again until the batch is under way.
for _ in $(seq 30); do
  xdotool windowfocus --sync "$window" || true
  xdotool key --clearmodifiers alt+s
  sleep 1
  compgen -G "$tmp/out/*" >/dev/null && break
  kill -0 "$vc_pid" 2>/dev/null || fail "videoconverter ended early"
done
for _ in $(seq 120); do
  [[ -s "$tmp/opened" ]] && break
  kill -0 "$vc_pid" 2>/dev/null || fail "videoconverter ended during the batch"
  sleep 0.5
done
[[ -e "$output" ]] || fail "no output: $(ls "$tmp/out")"
[[ "$(cat "$tmp/opened")" == "$tmp/out" ]] || fail "the output folder was not opened: $(cat "$tmp/opened" 2>/dev/null)"

streams="$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$output" | sort | tr '\n' ' ')"
[[ "$streams" == "audio video " ]] || fail "the output's streams are '$streams'"
duration="$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$output")"
awk -v d="$duration" 'BEGIN { exit !(d > 1.8 && d < 2.3) }' || fail "the output lasts $duration s, the source 2 s"

# Closing: Ctrl+Q, then Enter answers "Do you really want to exit?" with its default, Yes.
xdotool windowfocus --sync "$window" || true
xdotool key --clearmodifiers ctrl+q
question="$(timeout 15 xdotool search --sync --onlyvisible --name '^Warning$' | head -1)" ||
  fail "Ctrl+Q did not ask \"Do you really want to exit?\""
xdotool windowfocus --sync "$question" || true
xdotool key --clearmodifiers Return
for _ in $(seq 30); do
  kill -0 "$vc_pid" 2>/dev/null || break
  sleep 0.5
done
if kill -0 "$vc_pid" 2>/dev/null; then fail "the window did not close after the exit question"; fi
wait "$vc_pid" && status=0 || status=$?
vc_pid=""
[[ $status == 0 ]] || fail "videoconverter exited with $status"
echo "smoke test passed: $output"
