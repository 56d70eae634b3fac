#!/bin/sh
# Speed and peak memory of build/bin/psmux -f 8 against ffmpeg's own DVD muxer on the same
# 120-second 7 Mbit/s MPEG-2 video and 384 kbit/s MP2 audio, in several interleaved rounds
# (a shared machine makes single timings noisy).
#   tests/psmux/benchmark/run_benchmark.sh [build-dir] [rounds]
set -eu
build=${1:-build}
rounds=${2:-5}
psmux="$build/bin/psmux"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x480:rate=30000/1001 -t 120 -vf noise=alls=30:allf=t -c:v mpeg2video \
    -g 15 -bf 2 -b:v 7M -maxrate 8M -bufsize 1835k -f mpeg2video "$work/v.m2v"
ffmpeg -nostdin -v error -f lavfi -i sine=sample_rate=48000 -t 120 -ac 2 -c:a mp2 -b:a 384k -f mp2 "$work/a.mp2"
ls -l "$work/v.m2v" "$work/a.mp2"

measure() {  # label command...
    label=$1
    shift
    /usr/bin/time -f "$label: %e s elapsed, %U s user, %S s system, %M KB peak" "$@" 2>&1 >/dev/null | tail -1
}

# Warm the page cache so that both muxers read the same cached inputs.
cat "$work/v.m2v" "$work/a.mp2" >/dev/null
round=1
while [ "$round" -le "$rounds" ]; do
    echo "round $round"
    measure "  psmux empty run (usage error)" "$psmux" || true
    measure "  psmux -f 8" "$psmux" -f 8 -o "$work/psmux.vob" "$work/v.m2v" "$work/a.mp2"
    measure "  ffmpeg -f dvd" ffmpeg -nostdin -v error -y -i "$work/v.m2v" -i "$work/a.mp2" -c copy -f dvd "$work/ffmpeg.vob"
    round=$((round + 1))
done

# The multiplex must be lossless for the timing to mean anything.
ffmpeg -nostdin -v error -y -i "$work/psmux.vob" -map 0:v -c copy -f mpeg2video "$work/back.m2v"
if cmp -s "$work/v.m2v" "$work/back.m2v"; then echo "video demuxed from psmux's VOB equals the input"; else echo "VIDEO DIFFERS"; exit 1; fi
