# The bench's input clip, shared by run_bench.sh and player_bench.sh (source this file).
# 10 s of 1920x1080 at 30 fps: a moving test pattern with light temporal noise, so the encoder
# works as on camera material, H.264 at 8 Mb/s; a 440 Hz tone as AAC 128k stereo at 48000 Hz.
# Made once into BUILD/bench-media and made again only when the command that makes it changes.
#   make_input_clip BUILD    prints the clip's path (progress goes to the error output)
make_input_clip() {
  local media="$1/bench-media"
  local input="$media/input-1080p30.mp4"
  local make=(ffmpeg -nostdin -y -loglevel error
    -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=10,noise=alls=6:allf=t"
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=10"
    -c:v libx264 -preset medium -b:v 8M -maxrate 10M -bufsize 16M -pix_fmt yuv420p -g 60
    -c:a aac -b:a 128k -ac 2 -ar 48000 -shortest -movflags +faststart)
  mkdir -p "$media"
  if [[ ! -s "$input" || "$(cat "$input.cmd" 2>/dev/null)" != "${make[*]}" ]]; then
    echo "Making the input clip $input ..." >&2
    rm -f "$input" "$input.cmd"
    "${make[@]}" "$input.part.mp4"
    mv "$input.part.mp4" "$input"
    printf '%s' "${make[*]}" >"$input.cmd"
  fi
  printf '%s\n' "$input"
}
