#!/bin/sh
# Time, CPU use and peak memory of whole encode jobs (build/bin/run-job) against
# `ffmpeg -i CLIP -target ntsc-dvd` on the same 60-second 1920x1080 H.264/AAC clip, on the four
# roads (timeline on/off x direct VOB on/off), in interleaved rounds (a shared machine makes
# single timings noisy). The summary gives each road's mean ratios to the ffmpeg run of the same
# round: of the elapsed time, and of the CPU time (user + system), which a loaded machine
# disturbs far less.
#   tests/driver/benchmark/run_job_benchmark.sh [build-dir] [rounds]
# Needs ffmpeg (with libx264 and the native AAC encoder) and GNU time as /usr/bin/time (Debian
# package "time"); build the run-job target first. Not run by make.
set -eu
build=${1:-build}
rounds=${2:-3}
runjob="$build/bin/run-job"
[ -x "$runjob" ] || { echo "build the run-job target first: $runjob"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time is missing: apt-get install time"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Moving pictures and a tone, as a phone or camera would deliver them.
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001 -f lavfi \
    -i sine=frequency=440:sample_rate=48000 -t 60 -c:v libx264 -preset veryfast -crf 23 \
    -pix_fmt yuv420p -c:a aac -b:a 192k -ac 2 "$work/clip.mp4"
ls -l "$work/clip.mp4"
cat "$work/clip.mp4" >/dev/null

results="$work/results"
: >"$results"
measure() {  # label round command...
    label=$1
    round=$2
    shift 2
    /usr/bin/time -o "$work/time" -f "%e %U %S %P %M" "$@" >/dev/null 2>"$work/stderr" ||
        { echo "$label failed:"; cat "$work/stderr"; exit 1; }
    read -r elapsed user system cpu peak <"$work/time"
    echo "$round $label $elapsed $user $system ${cpu%\%} $peak" >>"$results"
    printf '  %-22s %7.2f s elapsed, %7.2f s user, %6.2f s system, CPU %5s, %7d KB peak\n' \
        "$label" "$elapsed" "$user" "$system" "$cpu" "$peak"
}

round=1
while [ "$round" -le "$rounds" ]; do
    echo "round $round"
    measure ffmpeg "$round" ffmpeg -nostdin -v error -y -i "$work/clip.mp4" -target ntsc-dvd "$work/ffmpeg.mpg"
    for road in "timeline 1 0" "timeline+direct 1 1" "plain 0 0" "plain+direct 0 1"; do
        set -- $road
        rm -rf "$work/out"
        measure "$1" "$round" "$runjob" --timeline "$2" --direct "$3" "$work/out" "$work/clip.mp4"
    done
    round=$((round + 1))
done

echo "mean over $rounds rounds (ratios to ffmpeg's figures in the same round)"
awk '
    $2 == "ffmpeg" { reference[$1] = $3; referenceCpu[$1] = $4 + $5 }
    { label[$2] = 1; elapsed[$2] += $3; cpuTime[$2] += $4 + $5; cpu[$2] += $6;
      peak[$2] = $7 > peak[$2] ? $7 : peak[$2];
      ratio[$2] += $3 / reference[$1]; cpuRatio[$2] += ($4 + $5) / referenceCpu[$1]; runs[$2]++ }
    END {
        order[1] = "ffmpeg"; order[2] = "timeline"; order[3] = "timeline+direct"; order[4] = "plain"; order[5] = "plain+direct"
        for (i = 1; i <= 5; i++) {
            l = order[i]
            if (!(l in label)) continue
            printf "  %-22s %7.2f s, %5.2fx ffmpeg; CPU %7.2f s, %5.2fx ffmpeg, %4.0f%%; %7d KB peak\n", l,
                   elapsed[l] / runs[l], ratio[l] / runs[l], cpuTime[l] / runs[l], cpuRatio[l] / runs[l],
                   cpu[l] / runs[l], peak[l]
        }
    }' "$results"

# The last job must have made a whole disc for the timings to mean anything.
ls "$work/out/DVD/VIDEO_TS"
