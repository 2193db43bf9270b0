#!/usr/bin/env bash
# Long and huge files through the public library, and whether the players
# read them to the end and seek near the end.
#
#   bench/long_file.sh long [SECONDS] [WxH]   one hour (default) of 320x240
#                                             video, 500 kbit/s, with audio
#   bench/long_file.sh huge [GIB] [WxH]       a file beyond 4 GiB (default
#                                             4.3): one second of 640x480
#                                             noise encoded once and written
#                                             again and again, PCM audio
#   bench/long_file.sh check FILE             only the checks, on any file
#   (huge files are only demuxed to the end, DEMUX=1; set DEMUX=0 to decode)
#
# Reports the writing time (wall and CPU), peak resident memory (GNU time),
# the size, and the checks: ffprobe's duration; FFmpeg decoding every frame
# (errors counted); FFmpeg seeking 10 s before the end and decoding from
# there; GStreamer (decodebin) playing the file to the end; GStreamer
# seeking 10 s before the end (flushing, key unit) and playing from there.
# Environment: BUILD (build folder, default build), OUT (scratch folder,
# default a new folder under /tmp; files are removed unless KEEP=1).
set -euo pipefail
cd "$(dirname "$0")/.."
MODE=${1:-long}
BUILD=${BUILD:-build}
OUT=${OUT:-$(mktemp -d /tmp/asfw-long-XXXXXX)}
PY=/usr/bin/python3
host=$BUILD/tests/robustness/long_file_host
huge_host=$BUILD/tests/robustness/huge_file_host

need() { command -v "$1" >/dev/null || { echo "long_file: $1 is missing (scripts/install-deps.sh)" >&2; exit 1; }; }

# GStreamer: play to the end, or seek to START seconds first; prints the
# last buffer's time seen on each stream and what the bus said. With a third
# argument "demux", the streams are only taken apart (asfdemux), not decoded.
gst_play() {
    "$PY" - "$1" "$2" "${3:-decode}" <<'EOF'
import sys, gi
gi.require_version('Gst', '1.0')
from gi.repository import Gst, GLib
Gst.init(None)
path, start, how = sys.argv[1], float(sys.argv[2]), sys.argv[3]
pipe = Gst.parse_launch('filesrc name=src ! %s name=dec' % ('asfdemux' if how == 'demux' else 'decodebin'))
pipe.get_by_name('src').set_property('location', path)
last, first = {}, {}
def on_pad(dec, pad):
    caps = pad.get_current_caps() or pad.query_caps(None)
    kind = caps.get_structure(0).get_name().split('/')[0].replace('x-wmv', 'video').replace('x-wma', 'audio')
    sink = Gst.ElementFactory.make('fakesink', None)
    sink.set_property('sync', False)
    pipe.add(sink); sink.sync_state_with_parent()
    pad.link(sink.get_static_pad('sink'))
    def probe(p, info, kind=kind):
        t = info.get_buffer().pts
        if t != Gst.CLOCK_TIME_NONE:
            s = t / Gst.SECOND
            first.setdefault(kind, s)
            last[kind] = max(last.get(kind, 0), s)
        return Gst.PadProbeReturn.OK
    sink.get_static_pad('sink').add_probe(Gst.PadProbeType.BUFFER, probe)
pipe.get_by_name('dec').connect('pad-added', on_pad)
pipe.set_state(Gst.State.PAUSED)
if pipe.get_state(60 * Gst.SECOND)[0] != Gst.StateChangeReturn.SUCCESS:
    print('gstreamer: cannot preroll'); sys.exit(1)
if start > 0:
    first.clear()
    if not pipe.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.KEY_UNIT, int(start * Gst.SECOND)):
        print('gstreamer: seek refused'); sys.exit(1)
    pipe.get_state(60 * Gst.SECOND)
pipe.set_state(Gst.State.PLAYING)
msg = pipe.get_bus().timed_pop_filtered(3 * 3600 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
pipe.set_state(Gst.State.NULL)
ok = msg is not None and msg.type == Gst.MessageType.EOS
err = '' if ok else (msg.parse_error()[0].message if msg else 'no end of stream')
print('gstreamer: %s; %s' % ('end of stream' if ok else 'ERROR ' + err,
      ', '.join('%s %.2f..%.2f s' % (k, first.get(k, -1), last[k]) for k in sorted(last))))
sys.exit(0 if ok else 1)
EOF
}

check() {
    local f=$1 status=0
    need ffprobe; need ffmpeg
    local d
    d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$f")
    printf '  size %s bytes (%.2f GiB); ffprobe duration %s s\n' "$(stat -c %s "$f")" \
        "$(echo "$(stat -c %s "$f") / 1073741824" | bc -l)" "$d"
    local t0 t1 errors frames what=decoded
    # DEMUX=1: the passes to the end only take the streams apart (a file
    # whose pictures are noise takes long to decode; the seeks still decode).
    local copy=() gst=decode
    [ "${DEMUX:-0}" = 1 ] && { copy=(-map 0 -c copy); gst=demux; what=demuxed; }
    t0=$(date +%s.%N)
    errors=$(ffmpeg -nostdin -v error -i "$f" "${copy[@]}" -f null - 2>&1 | wc -l)
    t1=$(date +%s.%N)
    frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$f")
    printf '  ffmpeg: %s to the end in %.0f s, %s error lines; %s video packets\n' "$what" "$(echo "$t1 - $t0" | bc)" "$errors" "$frames"
    [ "$errors" = 0 ] || status=1
    local seek count at
    seek=$(echo "$d - 10" | bc)
    count=$(ffmpeg -nostdin -v error -ss "$seek" -i "$f" -map 0:v:0 -f framecrc - 2>/dev/null | grep -vc '^#' || true)
    at=$(ffprobe -v error -read_intervals "${seek}%+1" -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 "$f" | awk 'NR == 1')
    printf '  ffmpeg: seek to %s s: %s frames decoded from there, first frame read at %s s\n' "$seek" "$count" "$at"
    [ "$count" -gt 0 ] || status=1
    if [ -x "$PY" ] && "$PY" -c "import gi; gi.require_version('Gst', '1.0')" 2>/dev/null; then
        t0=$(date +%s.%N)
        gst_play "$f" 0 "$gst" | sed "s/^/  played to the end ($what): /" || status=1
        t1=$(date +%s.%N)
        printf '  (GStreamer took %.0f s)\n' "$(echo "$t1 - $t0" | bc)"
        gst_play "$f" "$seek" | sed "s/^/  seek to $seek s: /" || status=1
    else
        echo "  GStreamer checks skipped: python3-gi and gir1.2-gstreamer-1.0 are missing"
        status=1
    fi
    return $status
}

build_hosts() {
    if [ ! -x "$host" ] || [ ! -x "$huge_host" ]; then
        cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
        cmake --build "$BUILD" -j"$(nproc)" --target long_file_host huge_file_host >/dev/null
    fi
}

# Runs a host under GNU time; reports wall and CPU time and peak memory.
timed() {
    need /usr/bin/time
    /usr/bin/time -v "$@" 2>"$OUT/time.txt" | sed 's/^/  /'
    grep -E 's of media in' "$OUT/time.txt" | sed 's/^/  /' || true
    awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} /Elapsed/ {e = $2} /Maximum resident/ {m = $2}
        END {printf "  wall %s, CPU %.0f s (user %.0f + sys %.0f), peak resident memory %.1f MB\n", e, u + s, u, s, m / 1024}' \
        "$OUT/time.txt"
}

finish() {
    local f=$1 status=0
    check "$f" || status=$?
    [ "${KEEP:-0}" = 1 ] || rm -f "$f"
    return $status
}

case "$MODE" in
long)
    build_hosts
    f=$OUT/long.wmv
    echo "long_file: ${2:-3600} s of ${3:-320x240} at 500 kbit/s + 128 kbit/s audio through the class -> $f"
    timed "$host" "$f" "${2:-3600}" "${3:-320x240}" 500
    finish "$f" ;;
huge)
    build_hosts
    f=$OUT/huge.wmv
    export DEMUX=${DEMUX:-1}
    echo "long_file: ${2:-4.3} GiB, ${3:-640x480} WMV9 video repeated + PCM audio through the muxer -> $f"
    timed "$huge_host" "$f" "${2:-4.3}" "${3:-640x480}"
    finish "$f" ;;
check) check "$2" ;;
*) echo "usage: $0 long|huge [SECONDS|GIB] [WxH] | check FILE" >&2; exit 2 ;;
esac
