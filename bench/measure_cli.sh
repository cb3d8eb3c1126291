#!/usr/bin/env bash
# Times tessaline-cli at default settings, file to file, beside a reference build (the previous
# main, say) in the same run, on the shared photographs and a generated 4000 x 3000 photograph.
# Per image and program: wall and processor seconds (the run with the lowest wall time of RUNS,
# the programs taking turns), peak resident memory per pixel, and the wall time divided by the
# unavoidable part: decoding the input PNG plus writing the result's index plane with our writer (tessaline-bench-io-floor,
# processor time, measured in the same run). Then whether both results hold the same image
# (bench/png_same_image.py) and their sizes. Not part of ctest: speed belongs here.
#   bench/measure_cli.sh [CLI [REFERENCE_CLI]]
#   environment: RUNS (3), CLI_OPTIONS (extra options for both programs), BUILD (build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/release}
cli=${1:-$build/cli/tessaline-cli}
reference=${2:-}
runs=${RUNS:-3}
floor_tool=$build/bench/tessaline-bench-io-floor
read -r -a options <<<"${CLI_OPTIONS:-}"
for program in "$cli" "$floor_tool" ${reference:+"$reference"}; do
    [ -x "$program" ] || { echo "measure_cli: $program is not built" >&2; exit 1; }
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
images=()
shared=${TESSALINE_SHARED_DIR:-../shared}/testdata/images
if [ -d "$shared" ]; then
    images+=("$shared"/photo-*.png)
else
    echo "measure_cli: no shared images in $shared; only the generated photograph"
fi
"$floor_tool" photo 4000 3000 "$out/generated-4000x3000.png"
images+=("$out/generated-4000x3000.png")

# measure IMAGE PROGRAM RESULT [PROGRAM RESULT]: for each program "wall cpu peak_kib" of its
# fastest of $runs runs, one line each. The programs take turns, so that a change of the machine's
# load during the measurement falls on both alike.
measure() {
    local image=$1 best=() wall user sys rss line k
    shift
    for ((i = 0; i < runs; ++i)); do
        for ((k = 0; k < $# / 2; ++k)); do
            local program=${@:2*k+1:1} result=${@:2*k+2:1}
            # One run, timed from inside Python: wall to the microsecond, processor time and peak
            # memory from the child's own resource usage (time's %e has only hundredths).
            read -r wall user sys rss <<<"$(python3 -c '
import os, subprocess, sys, time
started = time.perf_counter()
child = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
wall = time.perf_counter() - started
if status != 0:
    sys.exit("measure_cli: %s failed" % sys.argv[1])
print("%.3f %.3f %.3f %d" % (wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss))
' "$program" --quiet "${options[@]}" -o "$result" "$image")"
            line="$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $rss"
            if [ -z "${best[k]:-}" ] || awk -v a="$wall" -v b="${best[k]%% *}" 'BEGIN { exit !(a < b) }'; then
                best[k]=$line
            fi
        done
    done
    printf '%s\n' "${best[@]}"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; fastest of $runs runs; options: ${options[*]:-(defaults)}"
columns='%-28s %10s %7s | %7s %7s %6s %6s'
header=(image pixels floor_s wall_s cpu_s B/px ratio)
if [ -n "$reference" ]; then
    columns="$columns | %7s %7s %6s %6s | %6s %9s %9s %s"
    header+=(wall_s cpu_s B/px ratio wall× ref_bytes bytes image)
    echo "columns after 'floor': $cli, then the reference $reference, then new / reference"
fi
printf "$columns\n" "${header[@]}"
for image in "${images[@]}"; do
    name=$(basename "$image" .png)
    size=$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(24); print(*struct.unpack('>II', d[16:24]))" "$image")
    pixels=$(( ${size% *} * ${size#* } ))
    if [ -n "$reference" ]; then
        timings=$(measure "$image" "$cli" "$out/new.png" "$reference" "$out/reference.png")
    else
        timings=$(measure "$image" "$cli" "$out/new.png")
    fi
    read -r wall cpu rss <<<"$(sed -n 1p <<<"$timings")"
    read -r decode write <<<"$("$floor_tool" floor "$image" "$out/new.png" "$runs")"
    floor=$(awk -v d="$decode" -v w="$write" 'BEGIN { printf "%.3f", (d + w) / 1000 }')
    row=("$name" "$pixels" "$floor" "$wall" "$cpu"
         "$(awk -v r="$rss" -v p="$pixels" 'BEGIN { printf "%.1f", r * 1024 / p }')"
         "$(awk -v w="$wall" -v f="$floor" 'BEGIN { printf "%.1f", w / f }')")
    if [ -n "$reference" ]; then
        read -r rwall rcpu rrss <<<"$(sed -n 2p <<<"$timings")"
        same=$(python3 bench/png_same_image.py "$out/reference.png" "$out/new.png" >/dev/null && echo same || echo DIFFERS)
        row+=("$rwall" "$rcpu"
              "$(awk -v r="$rrss" -v p="$pixels" 'BEGIN { printf "%.1f", r * 1024 / p }')"
              "$(awk -v w="$rwall" -v f="$floor" 'BEGIN { printf "%.1f", w / f }')"
              "$(awk -v a="$wall" -v b="$rwall" 'BEGIN { printf "%.2f", a / b }')"
              "$(stat -c %s "$out/reference.png")" "$(stat -c %s "$out/new.png")" "$same")
    fi
    printf "$columns\n" "${row[@]}"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
