#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora from the test fixtures, into OUTDIR/<target>/:
#   fuzz/make_seeds.sh OUTDIR FIXTUREDIR
# FIXTUREDIR holds the sample media of tests/fixtures/make_media.sh (made there when missing).
#   probe, transcode  a short clip (0.2 s, 64x48) of av.mp4 in every container the profiles write,
#                     plus the small sample files; a transcode seed starts with the byte that picks
#                     the output (0 video, 1 sound only)
#   inistore          settings files as the program and the tests write them (LF, CRLF, byte order
#                     mark, quotes, comments, duplicates), each also with a change to write
#   options           option lines as the job records give them: codecs, sizes, presets, targets
#   jobbuilder        every profile section of data/keltovideoformat.ini with stored values
# Quick when the seeds exist (.stamp).
set -euo pipefail
if [[ $# -ne 2 ]]; then
  echo "usage: $0 OUTDIR FIXTUREDIR" >&2
  exit 2
fi
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$1"
FIX="$2"
stamp="$(cat "$0" "$ROOT/tests/fixtures/make_media.sh" "$ROOT/data/keltovideoformat.ini" | sha256sum | cut -d' ' -f1)"
[[ "$(cat "$OUT/.stamp" 2>/dev/null || true)" == "$stamp" ]] && exit 0
bash "$ROOT/tests/fixtures/make_media.sh" "$FIX"
rm -rf "$OUT"
mkdir -p "$OUT"/{probe,transcode,inistore,options,jobbuilder}

# ---- media: one clip per container the profiles write --------------------------------------
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y -fflags +bitexact)
CLIP=(-t 0.2 -i "$FIX/av.mp4")
clip() {  # clip NAME ARGS...: a short clip of av.mp4 written as NAME
  local name="$1"
  shift
  "${FF[@]}" "${CLIP[@]}" "$@" "$OUT/probe/$name" || echo "make_seeds.sh: no clip $name" >&2
}
SMALL=(-s 64x48 -r 10)
clip mp4.mp4 "${SMALL[@]}" -c:v mpeg4 -c:a aac -ac 1 -b:a 32k
clip h264.mp4 "${SMALL[@]}" -c:v libx264 -preset ultrafast -c:a aac -ac 1 -b:a 32k
clip mov.mov "${SMALL[@]}" -c:v mpeg4 -c:a aac -ac 1 -b:a 32k
clip 3gp.3gp -s 176x144 -r 10 -c:v h263 -c:a aac -ac 1 -ar 8000 -b:a 16k
clip 3g2.3g2 -s 176x144 -r 10 -c:v h263 -c:a aac -ac 1 -ar 8000 -b:a 16k
clip psp.mp4 -f psp "${SMALL[@]}" -c:v mpeg4 -c:a aac -ac 1 -b:a 32k
clip ipod.m4v -f ipod "${SMALL[@]}" -c:v libx264 -preset ultrafast -c:a aac -ac 1 -b:a 32k
clip avi.avi "${SMALL[@]}" -c:v mpeg4 -c:a libmp3lame -ac 1 -b:a 32k
clip asf.wmv "${SMALL[@]}" -c:v wmv2 -c:a wmav2 -ac 1 -b:a 32k
clip vob.vob -f vob "${SMALL[@]}" -r 25 -c:v mpeg2video -c:a mp2 -ac 1 -b:a 64k
clip mpeg.mpg -f mpeg "${SMALL[@]}" -r 25 -c:v mpeg1video -c:a mp2 -ac 1 -b:a 64k
clip mpegts.ts "${SMALL[@]}" -r 25 -c:v mpeg2video -c:a mp2 -ac 1 -b:a 64k
clip matroska.mkv "${SMALL[@]}" -c:v libx264 -preset ultrafast -c:a aac -ac 1 -b:a 32k
clip flv.flv "${SMALL[@]}" -c:v flv1 -c:a libmp3lame -ar 22050 -ac 1 -b:a 32k
clip swf.swf "${SMALL[@]}" -c:v flv1 -c:a libmp3lame -ar 22050 -ac 1 -b:a 32k
clip dv.dv -t 0.04 -s 720x576 -r 25 -pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ar 48000
clip ogg.ogg -vn -c:a libvorbis -ac 1 -b:a 32k
clip mp3.mp3 -vn -c:a libmp3lame -ac 1 -b:a 32k
clip adts.aac -vn -c:a aac -ac 1 -b:a 32k
clip ac3.ac3 -vn -c:a ac3 -ac 1 -b:a 64k
clip wav.wav -vn -c:a pcm_s16le -ac 1 -ar 8000
# The small sample files (the odd ones: cut, truncated, cover picture, chapters, no decoder).
for f in "$FIX"/*; do
  [[ -f "$f" && $(stat -c %s "$f") -le 60000 ]] && cp -- "$f" "$OUT/probe/fixture-$(basename "$f" | tr -c 'A-Za-z0-9.\n' _)"
done
for f in "$OUT"/probe/*; do
  base="$(basename "$f")"
  { printf '\0'; cat "$f"; } >"$OUT/transcode/video-$base"
  { printf '\1'; cat "$f"; } >"$OUT/transcode/audio-$base"
done

# ---- settings files ---------------------------------------------------------------------------
ini() { printf '%b' "$2" >"$OUT/inistore/$1"; }
ini settings.ini '[settings]\nOutPutDir=/home/user/videoconverter\nFormatCode=2602\nFormatName=iPod Video MPEG-4\nvolume=64\nmute=0\nskinIndex=3\npriority=1\njpgCmp=30\n[lstformat]\n1=0\n2=1\n[formatInfo2602]\nparaVideoSize=320x240\nparaVideoBitRate=768\nparaVolume=256\n'
ini crlf.ini '\xef\xbb\xbf[settings]\r\nFormatCode = 12 \r\n; a comment\r\n# another\r\nname="  spaced  "\r\n\r\n[Settings]\r\nformatcode=99\r\n'
ini odd.ini 'before any section=1\n[ a section ]\nkey=value=with=equals\nno equals here\n[empty]\n[x]\nhex=0x7FFFFFFF\nneg=-2147483648\ndollar=$FF\nbig=4294967296\nbool=true\n'
ini unterminated.ini '[settings]\r\nvolume=128'
ini change.ini '[settings]\nvolume=1\n\0settings\0volume\0  quoted value  '
ini newsection.ini '; only a comment\n\0formatInfo1\0paraZoom\0"lbox"'
head -c 4000 "$ROOT/data/keltovideoformat.ini" >"$OUT/inistore/format.ini"

# ---- option lines -----------------------------------------------------------------------------
opt() { printf '%b' "$2" >"$OUT/options/$1"; }
opt video '-f mp4\nvcodec libx264\nvpre fast\ns 320x240\nr 30000/1001\naspect 4:3\nb 768000\ng 250\nlevel 30\ncoder 0\n'
opt audio 'acodec libfaac\nab 128000\nar 44100\nac 2\nvol 256\nasync 1\n'
opt target 'target pal-dvd\nf dvd\ntarget ntsc-vcd\ntarget film-svcd\ntarget dv50\n'
opt maps 'map 0:1\nmap 0.0:0.1\nmap_meta_data 0:0\nstreamid 0:256\nitsscale 1:0.5\nmetadata title=Fuzz\n'
opt crop 'croptop 16\ncropbottom 16\ncropleft 8\ncropright 8\npadtop 2\nvf scale=64:48,setsar=1\n'
opt times 'ss 00:00:01.5\nt 2\nitsoffset -1\ntimestamp now\nfs 100000\nvframes 10\n'
opt matrices 'intra_matrix 8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,22,22,26,27,29,34,37,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,38,46,56,69,27,29,35,38,46,56,69,83\nrc_override 0,100,2/200,300,-5\n'
opt presets 'vcodec libx264\nvpre libx264-hq\napre x\nfpre /nonexistent\nspre y\npix_fmt yuv420p\nsample_fmt s16\n'
opt tags 'vtag xvid\natag 0x55\nstag mov_text\nvlang eng\nalang rus\n'

# ---- profiles ---------------------------------------------------------------------------------
awk -v out="$OUT/jobbuilder" '
  /^\[formatInfo[0-9]+\]/ { if (f) close(f); n++; f = (n % 4 == 1) ? sprintf("%s/profile%03d", out, n) : ""; next }
  f { print > f }
' "$ROOT/data/keltovideoformat.ini"
i=0
for f in "$OUT"/jobbuilder/profile*; do
  i=$((i + 1))
  { cat "$f"; printf '\0paraVideoSize=%s\nparaVideoBitRate=768\nparaFrameRate=25\nparaVideoEncoder=mpeg4\nparaAudioEncoder=libfaac\nparaChannel=2\nparaSampleRate=44100\nparaAudioBitRate=96\nparaVolume=256\nparaZoom=lbox\n\0' \
      "$([[ $((i % 2)) == 0 ]] && echo 320x240 || echo 'as source')"; printf '\\x%02x\\x10\\x10\\x00\\x00\\x05' $((i % 5)) | xargs -0 printf '%b'; } >"$f.tmp"
  mv "$f.tmp" "$f"
done
echo "$stamp" >"$OUT/.stamp"
