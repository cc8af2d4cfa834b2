#!/usr/bin/env bash
# Writes DIR/ゲーム, a small game whose folders and files have Japanese names,
# for the cross-check of the Linux and the Windows build. Its scripts are
# CP932 and name every file below the game folder with the bytes the
# converters must store; several names end in a character whose second byte
# is 0x5C, the byte of '\' (ソ, 表, 予, 十, 能).
#
#   .ci/japanese_game.sh DIR
set -euo pipefail
game="$1/ゲーム"
rm -rf "$game"
mkdir -p "$game/シナリオ" "$game/画像" "$game/ソフト/予定" "$game/音声" "$game/動画"

cp932() { iconv -f UTF-8 -t CP932 > "$1"; }

cp932 "$game/main.txt" <<'SCRIPT'
// 名前が日本語のゲーム
window_title "名前が日本語のゲーム";
create_window;
layer bg, "画像/背景.png";
layer_show bg, 0, 0;
layer hyou, "ソフト/表.png";
sound_play "音声/効果音.wav";
movie_play "動画/オープニング.avi";
text "能力と十の予定";
script_change "シナリオ/第一章.txt";
SCRIPT

cp932 "$game/シナリオ/第一章.txt" <<'SCRIPT'
// 第一章
chapter1:
layer nou, "ソフト/予定/十能.png";
text "第一章 ソフトの表";
script_change "main.txt";
SCRIPT

printf 'background' > "$game/画像/背景.png"
printf 'table' > "$game/ソフト/表.png"
printf 'plan' > "$game/ソフト/予定/十能.png"
printf 'sound' > "$game/音声/効果音.wav"
printf 'movie' > "$game/動画/オープニング.avi"
