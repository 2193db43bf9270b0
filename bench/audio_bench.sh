#!/bin/sh
# Audio encoder benchmark: ours against FFmpeg's wmav2 in one run.
#   bench/audio_bench.sh [BUILD_DIR]      (default: build)
# Quality: 44.1 kHz stereo at 64/128/192 kbps on speech, music with
# transients (drums, castanet-like clicks) and tonal music, all
# synthesised (bench/audio_signal_gen). Both streams are decoded with
# FFmpeg and compared with the source by bench/audio_quality (aligned,
# segmental SNR over critical bands, noise-to-mask ratio, bandwidth).
# Speed: CPU time to encode 10 minutes of 48 kHz stereo at 128 kbps, ours
# and FFmpeg's wmav2 alternately (AUDIO_BENCH_RUNS times each).
set -e
BUILD=${1:-build}
BIN=$BUILD/bench
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
RATE=44100
CH=2
SECS=${AUDIO_BENCH_SECONDS:-8}
printf '%-7s %5s | %-26s | %-26s\n' signal kbps "ours segSNR/NMR/bandwidth" "ffmpeg segSNR/NMR/bandwidth"
for sig in speech music clicks drums tonal; do
  "$BIN/audio_signal_gen" $sig $RATE $CH $SECS "$TMP/$sig.raw"
  for kbps in 64 128 192; do
    "$BIN/audio_wma_encode" $RATE $CH $kbps "$TMP/$sig.raw" "$TMP/ours.wav" 2>/dev/null
    ffmpeg -v error -xerror -i "$TMP/ours.wav" -f s16le -y "$TMP/ours.dec"
    ffmpeg -v error -f s16le -ar $RATE -ac $CH -i "$TMP/$sig.raw" -c:a wmav2 -b:a ${kbps}k -y "$TMP/ff.wma"
    ffmpeg -v error -i "$TMP/ff.wma" -f s16le -y "$TMP/ff.dec"
    o=$("$BIN/audio_quality" "$TMP/$sig.raw" "$TMP/ours.dec" $RATE $CH | sed 's/lag=[-0-9]* //')
    f=$("$BIN/audio_quality" "$TMP/$sig.raw" "$TMP/ff.dec" $RATE $CH | sed 's/lag=[-0-9]* //')
    printf '%-7s %5s | %-26s | %-26s\n' $sig $kbps "$(echo $o | sed 's/segsnr=//;s/ nmr=/ \/ /;s/ bandwidth=/ \/ /')" \
      "$(echo $f | sed 's/segsnr=//;s/ nmr=/ \/ /;s/ bandwidth=/ \/ /')"
  done
done
if [ -z "$AUDIO_BENCH_NO_SPEED" ]; then
  # Alternating runs (AUDIO_BENCH_RUNS, default 3) so both see the same load;
  # the fastest run of each is the figure (the machine is shared).
  RUNS=${AUDIO_BENCH_RUNS:-3}
  "$BIN/audio_signal_gen" music 48000 2 600 "$TMP/long.raw"
  : > "$TMP/t1"
  : > "$TMP/t2"
  i=0
  while [ $i -lt "$RUNS" ]; do
    /usr/bin/time -f '%U %S' -a -o "$TMP/t1" "$BIN/audio_wma_encode" 48000 2 128 "$TMP/long.raw" "$TMP/long.wav" 2>/dev/null >/dev/null
    /usr/bin/time -f '%U %S' -a -o "$TMP/t2" ffmpeg -v error -f s16le -ar 48000 -ac 2 -i "$TMP/long.raw" -c:a wmav2 -b:a 128k -y "$TMP/long.wma"
    i=$((i + 1))
  done
  echo "speed, 10 min 48 kHz stereo 128 kbps, CPU seconds (user+sys), fastest of $RUNS (all runs):"
  awk '{t = $1 + $2; all = all sprintf(" %.2f", t); if (NR == 1 || t < m) m = t} END {printf "  ours   %.2f  (%s )\n", m, all}' "$TMP/t1"
  awk '{t = $1 + $2; all = all sprintf(" %.2f", t); if (NR == 1 || t < m) m = t} END {printf "  ffmpeg %.2f  (%s )\n", m, all}' "$TMP/t2"
fi
