// The script generator shared by make_script_tree and the compile benchmark:
// scene scripts of varied, realistic statements (message text with Japanese
// in CP932, layers, sounds, conditions, loops, functions, labels,
// declarations, expressions and comments) and the main.txt that loads them.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace kv::bench {

// A few lines of CP932 text ("ようこそ" "今日はいい天気ですね。" and so on).
inline const char* const kJapanese[] = {
    "\x82\xE6\x82\xA4\x82\xB1\x82\xBB",
    "\x8D\xA1\x93\xFA\x82\xCD\x82\xA2\x82\xA2\x93\x56\x8B\x43\x82\xC5\x82\xB7\x82\xCB\x81\x42",
    "\x82\xB3\x82\xA0\x81\x41\x8F\x6F\x94\xAD\x82\xB5\x82\xE6\x82\xA4\x81\x49",
    "\x82\xB1\x82\xEA\x82\xCD\x83\x54\x83\x93\x83\x76\x83\x8B\x82\xC5\x82\xB7\x81\x42",
};

// How many pictures and sounds the scenes choose from.
inline constexpr int kPictures = 50;
inline constexpr int kSounds = 20;

class SceneWriter {
 public:
  SceneWriter(std::mt19937& rng, int scene) : rng_(rng), scene_(scene) {}

  std::string Write(size_t bytes) {
    out_.clear();
    int block = 0;
    out_ += "// scene " + std::to_string(scene_) + "\n";
    while (out_.size() < bytes) {
      switch (Pick(9)) {
        case 0: Text(); break;
        case 1: Layers(); break;
        case 2: Condition(); break;
        case 3: Loop(); break;
        case 4: Function(block++); break;
        case 5: Declarations(); break;
        case 6: Expression(); break;
        case 7: out_ += "scene" + std::to_string(scene_) + "_" + std::to_string(block++) + ":\n"; break;
        default: Sound(); break;
      }
    }
    return out_;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  std::string Number() { return std::to_string(Pick(1000)) + (Pick(4) == 0 ? ".5" : ""); }
  std::string Var() {
    static const char* const names[] = {"count", "flag", "score", "hp", "mp", "gold", "turn"};
    return names[Pick(7)];
  }

  void Text() {
    out_ += "text \"";
    out_ += kJapanese[Pick(4)];
    out_ += "\", \"";
    out_ += kJapanese[Pick(4)];
    out_ += "\";  // message\n";
  }
  void Layers() {
    out_ += "layer bg" + std::to_string(Pick(10)) + ", \"bg" + std::to_string(Pick(kPictures)) + ".png\";\n";
    out_ += "layer_show bg" + std::to_string(Pick(10)) + ", " + Number() + ", " + Number() + ";\n";
    out_ += "layer_move_position chara, " + Number() + ", " + Number() + ", " + Number() + ", " +
            Number() + ", 30;\n";
  }
  void Condition() {
    out_ += "if " + Var() + " >= " + Number() + " && " + Var() + " # 0;\n  ";
    Text();
    out_ += "elseif (" + Var() + " + 1) * 2 < " + Number() + ";\n  ";
    Expression();
    out_ += "else;\n  text \"else\";\nendif;\n";
  }
  void Loop() {
    out_ += "loop " + Var() + " < " + Number() + ";\n  " + Var() + " = " + Var() + " + 1;\n";
    out_ += "  if " + Var() + " == 3;\n    loop_exit;\n  endif;\nloop_end;\n";
  }
  void Function(int n) {
    out_ += "function f" + std::to_string(scene_) + "_" + std::to_string(n) + ";\n  ";
    Expression();
    out_ += "  function_exit;\nfunction_end;\n";
  }
  // Variables of the scene's own (main.txt declares the shared ones once):
  // the random draws are those of declaring the shared names, so the rest
  // of the scene stays as it was.
  void Declarations() {
    const std::string own = "_" + std::to_string(scene_) + "_" + std::to_string(declarations_++);
    out_ += "value " + Var() + own + " @ " + Number() + ", " + Var() + own + "b;\n";
    out_ += "string title" + own + " @ \"";
    out_ += kJapanese[Pick(4)];
    out_ += "\";\n";
  }
  void Expression() {
    out_ += Var() + " = (" + Var() + " + " + Number() + ") * " + Var() + " - " + Number() +
            " / 3 % 7;\n";
  }
  void Sound() {
    out_ += "sound_play \"se" + std::to_string(Pick(kSounds)) + ".wav\", " + std::to_string(Pick(2)) +
            ";\n/* a block comment\n   over two lines */\n";
  }

  std::mt19937& rng_;
  int scene_;
  int declarations_ = 0;
  std::string out_;
};

// The pictures and sounds the scenes name (bg0.png ... and se0.wav ...), as
// paths below the game's folder: a game tree holds them, so that a check
// finds every file its scripts name.
inline std::vector<std::string> MediaFiles() {
  std::vector<std::string> files;
  for (int i = 0; i < kPictures; ++i) files.push_back("img/bg" + std::to_string(i) + ".png");
  for (int i = 0; i < kSounds; ++i) files.push_back("se/se" + std::to_string(i) + ".wav");
  return files;
}

// main.txt: sets up the window, declares the variables and makes the layer
// that every scene uses, and loads scenes/scene0.txt ... scene<files-1>.txt.
inline std::string MainScript(int files) {
  std::string main_txt =
      "window_title \"bench\";\nwindow_size 800, 600;\ncreate_window;\n"
      "value count @ 0, flag @ 0, score @ 0, hp @ 0, mp @ 0, gold @ 0, turn @ 0;\n"
      "layer chara, \"img/bg0.png\";\n";
  for (int i = 0; i < files; ++i) {
    main_txt += "script_load \"scenes/scene" + std::to_string(i) + ".txt\";\n";
  }
  return main_txt;
}

}  // namespace kv::bench
