#!/usr/bin/env bash
# Compile benchmark: generates a tree of scripts and prints the script bytes
# compiled per second by KVConverter beside `wc -w` reading the same files.
#
#   bench/script_bench.sh [MEBIBYTES] [FILES]
# Build first: cmake --preset bench && cmake --build --preset bench -j2
set -euo pipefail
export LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD_DIR:-$here/../build-bench}"
size="${1:-40}"
files="${2:-400}"
work="$(mktemp -d /tmp/kv-script-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

"$build/bench/make_script_tree" "$work/game" "$size" "$files"
bytes=$(cat "$work/game/main.txt" "$work"/game/scenes/*.txt | wc -c)

# Warm the page cache so both readers start from memory.
cat "$work/game/main.txt" "$work"/game/scenes/*.txt > /dev/null

seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N); awk "BEGIN { print $e - $s }"; }
rate() { awk "BEGIN { printf \"%.1f\", $1 / $2 / 1000000 }"; }

t_kv=$(cd "$work/game" && seconds "$build/KVConverter" -i -a -m < /dev/null)
t_wc=$(seconds wc -w "$work/game/main.txt" "$work"/game/scenes/*.txt)
[ -s "$work/game/script.kvo" ] || { echo "no script object was written" >&2; exit 1; }

printf '%-14s %10s %10s %10s\n' reader bytes seconds MB/s
printf '%-14s %10d %10.3f %10s\n' KVConverter "$bytes" "$t_kv" "$(rate "$bytes" "$t_kv")"
printf '%-14s %10d %10.3f %10s\n' "wc -w" "$bytes" "$t_wc" "$(rate "$bytes" "$t_wc")"
