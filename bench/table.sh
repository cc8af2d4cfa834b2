#!/usr/bin/env bash
# Measures the converter against the plain tool that does the same work, in
# the same run, and prints each ratio's minimum, median and maximum over
# several rounds (each round runs the converter and its baseline back to back):
#
#   compile   KVConverter -i -a -m on a generated game   vs  cat FILES | wc -w
#   memory    peak resident memory of that compile       vs  size of script.kvo + 16 MiB
#   pack      KVConverter -s on random media, new output vs  cat FILES > new file
#   replace   the same, replacing an existing output     vs  cat FILES > tmp && mv tmp out
#   empty     a run in an empty directory, and the sample game (milliseconds)
#
#   bench/table.sh [ROUNDS] [SCRIPT_MIB] [SCRIPT_FILES] [MEDIA_MIB]
#
# Defaults: 5 rounds, a 25 MiB game of 385 scripts, 200 MiB of images. Build
# first: cmake --preset bench && cmake --build --preset bench -j2
# Every file is read once before measuring, so all programs read from the
# page cache. Needs /usr/bin/time (Debian package `time`).
set -euo pipefail
export LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD_DIR:-$here/../build-bench}"
kv="$build/KVConverter"
rounds="${1:-5}"
script_mib="${2:-25}"
script_files="${3:-385}"
media_mib="${4:-200}"
[[ -x $kv && -x $build/bench/make_script_tree ]] || {
  echo "table.sh: build first: cmake --preset bench && cmake --build --preset bench -j2" >&2
  exit 2
}
work="$(mktemp -d "${TMPDIR:-/tmp}/kv-table-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# --- inputs -------------------------------------------------------------------
"$build/bench/make_script_tree" "$work/game" "$script_mib" "$script_files"
scripts=("$work/game/main.txt" "$work"/game/scenes/*.txt)
mkdir -p "$work/media/img" "$work/empty"
each=$(( media_mib * 1024 * 1024 / 50 ))
for i in $(seq 1 50); do head -c $(( each - i )) /dev/urandom > "$work/media/img/i$i.png"; done
media=("$work"/media/img/*.png)
cat "${scripts[@]}" "${media[@]}" > /dev/null

# --- measuring ----------------------------------------------------------------
# run DIR COMMAND...: elapsed seconds of COMMAND run in DIR (stdin from
# /dev/null, output discarded) in $seconds, its peak memory in KiB in $rss.
run() {
  local dir=$1 start end
  shift
  start=$(date +%s%N)
  (cd "$dir" && /usr/bin/time -f %M -o "$work/rss" "$@" < /dev/null > /dev/null 2>&1) || {
    echo "table.sh: '$*' failed in $dir" >&2
    exit 1
  }
  end=$(date +%s%N)
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
  rss=$(tail -n 1 "$work/rss")
}
# stats LIST...: "min median max" of the numbers.
stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
  printf "%8.3f %8.3f %8.3f", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }

compile=(); memory=(); pack=(); replace=(); empty=(); sample=(); rate=()
script_bytes=$(cat "${scripts[@]}" | wc -c)
for (( r = 0; r < rounds; r++ )); do
  rm -f "$work/game/"*.kvo
  run "$work/game" "$kv" -i -a -m; t_kv=$seconds; kv_rss=$rss
  run "$work/game" sh -c 'cat "$@" | wc -w' sh "${scripts[@]}"; t_wc=$seconds
  compile+=("$(ratio "$t_kv" "$t_wc")")
  rate+=("$(awk -v b="$script_bytes" -v s="$t_kv" 'BEGIN { printf "%.1f", b / s / 1e6 }')")
  limit=$(( $(stat -c %s "$work/game/script.kvo") / 1024 + 16 * 1024 ))
  memory+=("$(ratio "$kv_rss" "$limit")")

  rm -f "$work/media/"*.kvo "$work/media/copy"
  run "$work/media" "$kv" -s; t_kv=$seconds
  run "$work/media" sh -c 'cat "$@" > copy' sh "${media[@]}"; t_cat=$seconds
  pack+=("$(ratio "$t_kv" "$t_cat")")
  run "$work/media" "$kv" -s; t_kv=$seconds  # image.kvo is there now
  run "$work/media" sh -c 'cat "$@" > copy.tmp && mv copy.tmp copy' sh "${media[@]}"; t_cat=$seconds
  replace+=("$(ratio "$t_kv" "$t_cat")")

  run "$work/empty" "$kv"; empty+=("$(awk -v s="$seconds" 'BEGIN { printf "%.2f", s * 1000 }')")
  rm -rf "$work/sample" && cp -r "$here/../examples/sample_game" "$work/sample"
  run "$work/sample" "$kv"; sample+=("$(awk -v s="$seconds" 'BEGIN { printf "%.2f", s * 1000 }')")
done

echo "$rounds rounds; scripts: $script_bytes bytes in ${#scripts[@]} files; media: ${#media[@]} files, $media_mib MiB"
printf '%-44s %8s %8s %8s\n' "" min median max
printf '%-44s %s\n' "compile time / (cat FILES | wc -w)" "$(stats "${compile[@]}")"
printf '%-44s %s\n' "compile MB/s" "$(stats "${rate[@]}")"
printf '%-44s %s\n' "compile peak memory / (script.kvo + 16 MiB)" "$(stats "${memory[@]}")"
printf '%-44s %s\n' "pack time / (cat FILES > new)" "$(stats "${pack[@]}")"
printf '%-44s %s\n' "replace time / (cat FILES > tmp && mv)" "$(stats "${replace[@]}")"
printf '%-44s %s\n' "empty run, ms" "$(stats "${empty[@]}")"
printf '%-44s %s\n' "sample game, ms" "$(stats "${sample[@]}")"
