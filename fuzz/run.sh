#!/usr/bin/env bash
# Runs one fuzz target of the "fuzz" preset for a bounded time:
#
#   fuzz/run.sh TARGET SECONDS [more libFuzzer options]
#
# TARGET is convert_fuzzer, tokenizer_fuzzer, options_fuzzer, kvdump_fuzzer,
# lsp_fuzzer or analysis_fuzzer. New inputs are kept in build-fuzz/corpus/TARGET, so a later run
# goes on from there; the seeds (fuzz/corpus, the sample game) and the corpus
# that long runs of the target have kept (fuzz/corpus/TARGET) are only read. A finding is written to
# build-fuzz/findings/ and makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1
seconds=$2
shift 2

build=build-fuzz
work=$build/corpus/$target
seeds=$build/seeds/$target
mkdir -p "$work" "$seeds" "$build/findings"
rm -f "$seeds"/*

sample=examples/sample_game
case $target in
  convert_fuzzer)
    # One flag byte (bit 0: main phase), then the scripts, split by the mark.
    for f in fuzz/corpus/scripts/*; do
      { printf '\001'; cat "$f"; } > "$seeds/main-$(basename "$f")"
      { printf '\000'; cat "$f"; } > "$seeds/setup-$(basename "$f")"
    done
    { printf '\000'; cat "$sample/main.txt"; printf '\n=====\n'; cat "$sample/scenes/chapter1.txt"; } \
      > "$seeds/sample_game"
    dict=$build/fuzz/script.dict ;;
  tokenizer_fuzzer)
    cp fuzz/corpus/scripts/* "$seeds/"
    cp "$sample/main.txt" "$seeds/sample_main.txt"
    cp "$sample/scenes/chapter1.txt" "$seeds/sample_chapter1.txt"
    dict=$build/fuzz/script.dict ;;
  options_fuzzer)
    cp fuzz/corpus/options/* "$seeds/"
    dict=fuzz/options.dict ;;
  kvdump_fuzzer)
    # The objects of the sample game, as stored (flag 0) and unscrambled
    # (flag 1).
    game=$build/seed-game
    rm -rf "$game"
    cp -r "$sample" "$game"
    (cd "$game" && SOURCE_DATE_EPOCH=0 "$OLDPWD/$build/KVConverter" < /dev/null > /dev/null)
    for f in "$game"/*.kvo; do
      name=$(basename "$f" .kvo)
      { printf '\000'; cat "$f"; } > "$seeds/stored-$name"
      "$build/kvdump" --raw "$game/$name.image" "$f"
      { printf '\001'; cat "$game/$name.image"; } > "$seeds/image-$name"
    done
    dict=$build/fuzz/script.dict ;;
  lsp_fuzzer)
    # Sessions of an editor with the server, as they come on standard input.
    cp fuzz/corpus/lsp/* "$seeds/"
    dict=fuzz/lsp.dict ;;
  analysis_fuzzer)
    # Edit sequences: a blank line added to a scene, a declaration and its
    # use, errors up to the limit and back.
    printf '\001\004\000' > "$seeds/blank-line"
    printf '\020\001\006\001\021\002\010\001' > "$seeds/declare-and-use"
    printf '\023\001\007\043\001\007\063\001\000' > "$seeds/error-limit"
    dict=
    # Each input compiles the game three times per edit, to the error limit.
    timeout=30 ;;
  *)
    echo "unknown fuzz target: $target" >&2
    exit 2 ;;
esac

kept=()
[ -d "fuzz/corpus/$target" ] && kept=("fuzz/corpus/$target")
timeout=${timeout:-10}
dict_option=()
[ -n "$dict" ] && dict_option=(-dict="$dict")
exec "$build/fuzz/$target" -max_total_time="$seconds" "${dict_option[@]}" -timeout="$timeout" \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
  "$@" "$work" "$seeds" "${kept[@]}"
