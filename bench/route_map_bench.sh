#!/usr/bin/env bash
# The route map of a generated game against a check of the same game, in the
# same run: each round runs `KVConverter -i -a -m --check` and then
# `KVConverter -i -a -m --route-map=FILE` (for each of .json and .dot) back to
# back, and the script prints the minimum, median and maximum of each time and
# of its ratio to the check's, wall time and processor time side by side, and
# whether the median ratios meet the target of the map taking no longer than
# the check.
#
#   bench/route_map_bench.sh [ROUNDS] [SCRIPT_MIB] [SCRIPT_FILES]
#
# Defaults: 7 rounds, a 25 MiB game of 385 scripts. Build first:
# cmake --preset bench && cmake --build --preset bench -j2
set -euo pipefail
export LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD_DIR:-$here/../build-bench}"
kv="$build/KVConverter"
rounds="${1:-7}"
script_mib="${2:-25}"
script_files="${3:-385}"
[[ -x /usr/bin/time ]] || { echo "route_map_bench.sh: needs /usr/bin/time (Debian package time)" >&2; exit 2; }
[[ -x $kv && -x $build/bench/make_script_tree ]] || {
  echo "route_map_bench.sh: build first: cmake --preset bench && cmake --build --preset bench -j2" >&2
  exit 2
}
work="$(mktemp -d "${TMPDIR:-/tmp}/kv-route-map-XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/make_script_tree" "$work/game" "$script_mib" "$script_files"
cat "$work"/game/main.txt "$work"/game/scenes/*.txt > /dev/null

# seconds COMMAND...: the wall time of one run in the game folder and the
# processor time it took (user and system), as "WALL CPU". The processor time
# is the steadier figure on a machine that other work shares.
seconds() {
  local times
  times=$(cd "$work/game" && /usr/bin/time -f '%e %U %S' "$@" 2>&1 < /dev/null > /dev/null | tail -n 1) || true
  echo "$times" | awk '{ printf "%s %.2f\n", $1, $2 + $3 }'
}
declare -a check json dot check_cpu json_cpu dot_cpu
for _ in $(seq 1 "$rounds"); do
  read -r wall cpu < <(seconds "$kv" -i -a -m --check); check+=("$wall"); check_cpu+=("$cpu")
  read -r wall cpu < <(seconds "$kv" -i -a -m "--route-map=$work/map.json"); json+=("$wall"); json_cpu+=("$cpu")
  read -r wall cpu < <(seconds "$kv" -i -a -m "--route-map=$work/map.dot"); dot+=("$wall"); dot_cpu+=("$cpu")
done
# stats VALUES...: minimum, median, maximum.
stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f", v[1], v[int((NR + 1) / 2)], v[NR] }'; }
# ratios A B: each A[i] / B[i].
ratios() {
  local -n a=$1 b=$2
  for i in "${!a[@]}"; do echo "${a[$i]} / ${b[$i]}" | bc -l; done
}
echo "game: $(du -sh "$work/game" | cut -f1), $(ls "$work"/game/scenes | wc -l) scenes; map: $(grep -c '"kind"' "$work/map.json") nodes and edges, $(du -h "$work/map.json" | cut -f1) JSON, $(du -h "$work/map.dot" | cut -f1) DOT; $rounds rounds"
printf '%-22s %-22s %s\n' "min median max" "wall" "processor (user + system)"
printf '%-22s %-22s %s\n' "--check, s" "$(stats "${check[@]}")" "$(stats "${check_cpu[@]}")"
printf '%-22s %-22s %s\n' "--route-map=.json, s" "$(stats "${json[@]}")" "$(stats "${json_cpu[@]}")"
printf '%-22s %-22s %s\n' "--route-map=.dot, s" "$(stats "${dot[@]}")" "$(stats "${dot_cpu[@]}")"
printf '%-22s %-22s %s\n' ".json / --check" "$(stats $(ratios json check))" "$(stats $(ratios json_cpu check_cpu))"
printf '%-22s %-22s %s\n' ".dot / --check" "$(stats $(ratios dot check))" "$(stats $(ratios dot_cpu check_cpu))"
# The target: the map takes no longer than the check, by the median of the
# ratios of the rounds (each map against the check run just before it).
verdict() {
  local median
  median=$(stats "$@" | awk '{ print $2 }')
  awk -v m="$median" 'BEGIN { printf "%s (%.3f)", m <= 1.0 ? "pass" : "FAIL", m }'
}
echo "target: the map takes no longer than --check (median ratio <= 1)"
printf '%-22s wall %s, processor %s\n' ".json" "$(verdict $(ratios json check))" "$(verdict $(ratios json_cpu check_cpu))"
printf '%-22s wall %s, processor %s\n' ".dot" "$(verdict $(ratios dot check))" "$(verdict $(ratios dot_cpu check_cpu))"
