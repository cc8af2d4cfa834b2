#!/usr/bin/env bash
# Peak memory of the converter on a large generated game, beside the size of
# the script object it writes: a build and a --check of the same game, and
# kvls's first analysis of it (initialize, one workspace/symbol request,
# shutdown), each against the bound of script.kvo + 16 MiB (a check and kvls
# write no object, and are held to the bound of the object the build
# writes); each row ends in PASS when its peak is within the bound, FAIL
# when not.
#
#   bench/memory_bench.sh [SCRIPT_MIB] [SCRIPT_FILES]
#
# Defaults: a 200 MiB game in one scene script (main.txt beside it), the
# shape in which everything that grows with the script shows most. Give
# SCRIPT_FILES (3080, say) for the same amount spread over many scripts.
# Build first: cmake --preset bench && cmake --build --preset bench -j2
# Needs /usr/bin/time (Debian package `time`).
set -euo pipefail
export LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD_DIR:-$here/../build-bench}"
kv="$build/KVConverter"
script_mib="${1:-200}"
script_files="${2:-1}"
[[ -x $kv && -x $build/kvls && -x $build/bench/make_script_tree ]] || {
  echo "memory_bench.sh: build first: cmake --preset bench && cmake --build --preset bench -j2" >&2
  exit 2
}
work="$(mktemp -d "${TMPDIR:-/tmp}/kv-memory-XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/make_script_tree" "$work/game" "$script_mib" "$script_files" --no-media
script_bytes=$(cat "$work"/game/main.txt "$work"/game/scenes/*.txt | wc -c)

# peak ARGS...: the peak resident memory (KiB) of one run in the game folder.
peak() {
  (cd "$work/game" && SOURCE_DATE_EPOCH=0 /usr/bin/time -f %M -o "$work/rss" "$kv" -i -a -m "$@" \
     < /dev/null > /dev/null) || {
    echo "memory_bench.sh: 'KVConverter $*' failed" >&2
    exit 1
  }
  tail -n 1 "$work/rss"
}
build_kib=$(peak)
object_bytes=$(stat -c %s "$work/game/script.kvo")
rm -f "$work/game/script.kvo"
check_kib=$(peak --check)

# kvls over standard input: its first analysis publishes the game's
# diagnostics (every picture the game names is missing) before the request
# is answered.
lsp_message() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
{
  lsp_message '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"processId":null,"rootUri":"file://'"$work/game"'","capabilities":{}}}'
  lsp_message '{"jsonrpc":"2.0","method":"initialized","params":{}}'
  lsp_message '{"jsonrpc":"2.0","id":2,"method":"workspace/symbol","params":{"query":"zzzz"}}'
  lsp_message '{"jsonrpc":"2.0","id":3,"method":"shutdown"}'
  lsp_message '{"jsonrpc":"2.0","method":"exit"}'
} > "$work/lsp.in"
kvls_kib=$( (cd "$work/game" && /usr/bin/time -f %M -o "$work/rss" "$build/kvls" --stdio \
               < "$work/lsp.in" > /dev/null) && tail -n 1 "$work/rss") || {
  echo "memory_bench.sh: kvls failed" >&2
  exit 1
}
bound_kib=$(( object_bytes / 1024 + 16 * 1024 ))

echo "scripts: $script_bytes bytes in $(( script_files + 1 )) files; script.kvo: $object_bytes bytes"
printf '%-10s %14s %14s %14s %10s %6s\n' run "peak KiB" "script.kvo KiB" "bound KiB" "peak/bound" bound
for row in "build $build_kib" "--check $check_kib" "kvls $kvls_kib"; do
  read -r name kib <<< "$row"
  verdict=PASS
  (( kib <= bound_kib )) || verdict=FAIL
  printf '%-10s %14d %14d %14d %10.3f %6s\n' "$name" "$kib" $(( object_bytes / 1024 )) "$bound_kib" \
    "$(awk -v a="$kib" -v b="$bound_kib" 'BEGIN { print a / b }')" "$verdict"
done
