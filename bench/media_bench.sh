#!/usr/bin/env bash
# Packs a generated media tree with KVConverter and compares its speed and
# peak memory with `cat` copying the same files, in the same run.
#
#   bench/media_bench.sh [MiB] [path/to/KVConverter] [runs]
#
#   MiB        total size of the generated media (default 256, at most 4000:
#              half of it are movies, and one archive holds at most 2 GiB)
#   KVConverter the program to measure (default build-bench/KVConverter; build
#              it with: cmake --preset bench && cmake --build --preset bench -j2)
#   runs       how many times each program runs; the fastest run counts (default 3)
#
# The tree (images .png, sounds .wav, movies .avi of random bytes) lives in a
# temporary directory below $TMPDIR (default /tmp) and is removed at the end.
# All files are read once before measuring, so every program reads from the
# page cache. This is a program to run by hand, not a test.
set -euo pipefail

size_mib=${1:-256}
repo=$(cd "$(dirname "$0")/.." && pwd)
converter=${2:-$repo/build-bench/KVConverter}
runs=${3:-3}

if ! [[ $size_mib =~ ^[0-9]+$ ]] || (( size_mib < 1 || size_mib > 4000 )); then
  echo "media_bench.sh: the size must be a whole number of MiB from 1 to 4000" >&2
  exit 2
fi
if [[ ! -x $converter ]]; then
  echo "media_bench.sh: no program at $converter" >&2
  echo "build it with: cmake --preset bench && cmake --build --preset bench -j2" >&2
  exit 2
fi
converter=$(cd "$(dirname "$converter")" && pwd)/$(basename "$converter")

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-media-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
game=$work/game
mkdir -p "$game/image" "$game/audio" "$game/movie"

# --- the media tree -----------------------------------------------------------
# A fifth of the bytes in many small images, three tenths in a few sounds, half
# in two movies. Sizes are not multiples of any block size.
total=$(( size_mib * 1024 * 1024 ))
make_files() {  # directory extension count bytes_in_all
  local dir=$1 ext=$2 count=$3 bytes=$4 i each
  each=$(( bytes / count ))
  for (( i = 0; i < count; i++ )); do
    head -c $(( each > 7 ? each - 7 * (i % 2) : each )) /dev/urandom >"$game/$dir/f$i.$ext"
  done
}
image_count=$(( size_mib < 64 ? 16 : size_mib / 4 ))
make_files image png "$image_count" $(( total / 5 ))
make_files audio wav 6 $(( total * 3 / 10 ))
make_files movie avi 2 $(( total - total / 5 - total * 3 / 10 ))

mapfile -t media < <(cd "$game" && find image audio movie -type f | sort)
media_bytes=$(cd "$game" && find image audio movie -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
cat "$game"/image/* "$game"/audio/* "$game"/movie/* >/dev/null  # into the page cache

# --- measuring ------------------------------------------------------------------
# measure <output> <command...>: runs the command in $game with stdin from
# /dev/null, standard output to <output> and standard error to $work/err.log;
# sets seconds, rss_kib (peak resident memory in KiB) and status.
if [[ -x /usr/bin/time ]]; then
  measure() {
    local output=$1 start end
    shift
    start=$(date +%s%N)
    status=0
    (cd "$game" && /usr/bin/time -v -o "$work/time.txt" "$@" </dev/null >"$output" 2>"$work/err.log") ||
      status=$?
    end=$(date +%s%N)
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    rss_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  }
else
  measure() {
    local result
    status=0
    result=$(cd "$game" && python3 - "$work/err.log" "$@" <<'EOF'
import resource, subprocess, sys, time
# The peak is sampled from VmHWM in /proc: the rusage of a child forked from
# Python also counts the pages of Python itself from before the exec.
def hwm(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0
start = time.perf_counter()
with open("/dev/null", "rb") as stdin, open(sys.argv[2], "wb") as out, \
        open(sys.argv[1], "wb") as err:
    child = subprocess.Popen(sys.argv[3:], stdin=stdin, stdout=out, stderr=err)
    peak = 0
    while child.poll() is None:
        peak = max(peak, hwm(child.pid))
        time.sleep(0.002)
elapsed = time.perf_counter() - start
if peak == 0:  # ended before the first sample: an upper bound instead
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{elapsed:.3f} {peak} {child.returncode}")
EOF
    )
    read -r seconds rss_kib status <<<"$result"
  }
fi

# best <label> <output> <command...>: the fastest of $runs runs and the
# largest peak memory.
best() {
  local label=$1 i best_s="" max_rss=0
  shift
  for (( i = 0; i < runs; i++ )); do
    rm -f "$game"/*.kvo "$work/cat.out"
    measure "$@"
    if (( status != 0 )); then
      echo "media_bench.sh: $label ended with status $status:" >&2
      cat "$work/err.log" >&2
      [[ -f $work/converter.log ]] && cat "$work/converter.log" >&2
      exit 1
    fi
    if [[ -z $best_s ]] || awk -v a="$seconds" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then
      best_s=$seconds
    fi
    if (( rss_kib > max_rss )); then max_rss=$rss_kib; fi
  done
  awk -v l="$label" -v s="$best_s" -v r="$max_rss" -v b="$media_bytes" 'BEGIN {
    printf "%-18s %9.3f %10.1f %10.1f\n", l, s, (s > 0 ? b / s / 1e6 : 0), r / 1024 }'
  last_seconds=$best_s
}

echo "media: ${#media[@]} files, $media_bytes bytes ($size_mib MiB) in $game"
echo "runs: $runs (fastest counts)"
echo
printf "%-18s %9s %10s %10s\n" "program" "seconds" "MB/s" "peak MiB"
best "cat > /dev/null" /dev/null cat "${media[@]}"
best "cat > file" "$work/cat.out" cat "${media[@]}"
cat_seconds=$last_seconds
best "KVConverter -s" "$work/converter.log" "$converter" -s
awk -v c="$cat_seconds" -v k="$last_seconds" 'BEGIN {
  if (k > 0) printf "\nKVConverter runs at %.2f of the speed of cat > file\n", c / k }'

# The archives must hold every media byte: header, data plus one zero byte per
# file, and the two scramble bytes.
kvo_bytes=$( (stat -c %s "$game"/image.kvo "$game"/audio.kvo "$game"/movie.kvo 2>/dev/null || true) |
  awk '{ s += $1 } END { printf "%.0f\n", s }')
echo
echo "archives: $kvo_bytes bytes written"
if (( kvo_bytes < media_bytes + ${#media[@]} )); then
  echo "media_bench.sh: the archives are missing or too short; KVConverter said:" >&2
  cat "$work/converter.log" >&2
  exit 1
fi
