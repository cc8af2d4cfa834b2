#include "driver/options.h"

#include <algorithm>
#include <cstdint>

#include "driver/file_search.h"
#include "context/kc_system.h"
#include "platform/file_system.h"
#include "platform/version.h"
#include "source/numbers.h"

namespace kv {
namespace {

constexpr std::string_view kMsgVersion = "KVConverter %s\n";
constexpr std::string_view kMsgUnknownOption = "不明なオプションです \"%c\"\n";
constexpr std::string_view kMsgMissingValue = "オプション \"%s\" に値が指定されていません\n";
constexpr std::string_view kHelpText =
    "KVConverter Version %s ヘルプ\n"
    "\n"
    "KVConverter [-s] [-i] [-a] [-m] [-xd xxx] [-td xxx] [-l xxx] [-se xxx] [-ie xxx] [-ae xxx] "
    "[-me xxx] [-so xxx] [-io xxx] [-ao xxx] [-mo xxx] [-h]\n"
    "s  : スクリプトファイルをコンバートしない\n"
    "i  : イメージファイルをコンバートしない\n"
    "a  : オーディオファイルをコンバートしない\n"
    "m  : ムービーファイルをコンバートしない\n"
    "xd : Korvelのあるディレクトリパス\n"
    "     デフォルト : 現在のディレクトリ\n"
    "td : ファイルを検索する最上層ディレクトリパス\n"
    "     デフォルト : 現在のディレクトリ\n"
    "l  : ファイルを最上層ディレクトリから下層へ何階層まで検索するか\n"
    "     デフォルト : 無制限\n"
    "se : スクリプトファイルの拡張子(複数指定可)\n"
    "     デフォルト : txt\n"
    "ie : イメージファイルの拡張子(複数指定可)\n"
    "     デフォルト : bmp jpg gif png\n"
    "ae : オーディオファイルの拡張子(複数指定可)\n"
    "     デフォルト : wav mp3 wma mid mpa ogg\n"
    "me : ムービーファイルの拡張子(複数指定可)\n"
    "     デフォルト : avi mpg mpeg mpv dat mov wmv\n"
    "so : スクリプトオブジェクトファイル名\n"
    "     デフォルト : script.kvo\n"
    "io : イメージオブジェクトファイル名\n"
    "     デフォルト : image.kvo\n"
    "ao : オーディオオブジェクトファイル名\n"
    "     デフォルト : audio.kvo\n"
    "mo : ムービーオブジェクトファイル名\n"
    "     デフォルト : movie.kvo\n"
    "h  : ヘルプ表示\n";

// Each option letter sets one bit; the set of bits, not the order of the
// letters, names the option.
enum : uint32_t {
  kBitD = 0x1, kBitX = 0x10, kBitT = 0x20, kBitL = 0x40, kBitE = 0x100, kBitO = 0x1000,
  kBitH = 0x10000, kBitM = 0x10000000, kBitA = 0x20000000, kBitI = 0x40000000,
  kBitS = 0x80000000,
};

uint32_t LetterBit(char c) {
  switch (c | 0x20) {
    case 'a': return kBitA;
    case 'd': return kBitD;
    case 'e': return kBitE;
    case 'h': return kBitH;
    case 'i': return kBitI;
    case 'l': return kBitL;
    case 'm': return kBitM;
    case 'o': return kBitO;
    case 's': return kBitS;
    case 't': return kBitT;
    case 'x': return kBitX;
    default: return 0;
  }
}

enum class Kind { kNone, kDisable, kDirectory, kDepth, kExtension, kObjectName, kHelp };

struct Option {
  uint32_t bits;
  Kind kind;
  int target;  // which of the four kinds, or which directory
};

// The accepted combinations. Targets: 0 scripts, 1 images, 2 audio, 3 movies;
// for directories 0 engine, 1 search.
constexpr Option kOptions[] = {
    {kBitS, Kind::kDisable, 0},           {kBitI, Kind::kDisable, 1},
    {kBitA, Kind::kDisable, 2},           {kBitM, Kind::kDisable, 3},
    {kBitX | kBitD, Kind::kDirectory, 0}, {kBitT | kBitD, Kind::kDirectory, 1},
    {kBitL, Kind::kDepth, 0},             {kBitS | kBitE, Kind::kExtension, 0},
    {kBitI | kBitE, Kind::kExtension, 1}, {kBitA | kBitE, Kind::kExtension, 2},
    {kBitM | kBitE, Kind::kExtension, 3}, {kBitS | kBitO, Kind::kObjectName, 0},
    {kBitI | kBitO, Kind::kObjectName, 1}, {kBitA | kBitO, Kind::kObjectName, 2},
    {kBitM | kBitO, Kind::kObjectName, 3}, {kBitH, Kind::kHelp, 0},
};

const Option* FindOption(uint32_t bits) {
  for (const Option& option : kOptions) {
    if (option.bits == bits) return &option;
  }
  return nullptr;
}


std::string DirectoryValue(const std::string& value, const std::string& current,
                           char separator) {
  // An empty value names the current directory, as the default does.
  if (value.empty()) return current;
  if (value.back() == '/' || value.back() == '\\') return value;
  return value + separator;
}

}  // namespace

const std::array<std::vector<std::string>, 4>& DefaultExtensions() {
  static const std::array<std::vector<std::string>, 4> extensions = {{
      {"txt"},
      {"bmp", "jpg", "gif", "png"},
      {"wav", "mp3", "wma", "mid", "mpa", "ogg"},
      {"avi", "mpg", "mpeg", "mpv", "dat", "mov", "wmv"},
  }};
  return extensions;
}

OptionsResult ParseOptions(KCSystem& sys, const std::vector<std::string>& args,
                           bool* script_found) {
  *script_found = false;
  const char separator = sys.fs.Separator();
  const std::string current = sys.fs.CurrentDirectory() + separator;
  std::string directories[2] = {current, current};
  int32_t depth = -1;
  std::vector<std::string> lists[4];
  bool enabled[4] = {true, true, true, true};
  bool explicit_list[4] = {false, false, false, false};
  std::string object_names[4] = {"script.kvo", "image.kvo", "audio.kvo", "movie.kvo"};

  bool check_only = false;
  const Option* option = nullptr;
  std::string option_word;
  size_t i = 1;
  while (i < args.size()) {
    const std::string& word = args[i];
    if (word.starts_with("--")) {
      // Whole words, none of which takes a value after it.
      ++i;
      option = nullptr;
      if (word == "--help") {
        sys.log.Message(kHelpText, {kVersion});
        return OptionsResult::kHelp;
      }
      if (word == "--version") {
        sys.log.Message(kMsgVersion, {kVersion});
        return OptionsResult::kHelp;
      }
      if (word == "--check") {
        check_only = true;
      } else if (word == "--diagnostics=gnu") {
        // Applies at once, so the option errors that follow read the same.
        sys.log.set_style(DiagnosticsStyle::kGnu);
      } else {
        sys.log.Error(kMsgUnknownOption, {LogArg::Char('-')});
        return OptionsResult::kFailed;
      }
      continue;
    }
    if (!word.empty() && word[0] == '-') {
      uint32_t bits = 0;
      for (size_t k = 1; k < word.size(); ++k) {
        uint32_t bit = LetterBit(word[k]);
        if (bit == 0) {
          sys.log.Error(kMsgUnknownOption, {LogArg::Char(static_cast<unsigned char>(word[k]))});
          return OptionsResult::kFailed;
        }
        bits |= bit;
      }
      option = FindOption(bits);
      option_word = word;
      ++i;
      if (option == nullptr) {
        sys.log.Error(kMsgUnknownOption,
                      {LogArg::Char(static_cast<unsigned char>(word.size() > 1 ? word[1] : '-'))});
        return OptionsResult::kFailed;
      }
    } else if (option == nullptr || option->kind == Kind::kDisable) {
      // A value with no option before it that takes values.
      sys.log.Error(kMsgUnknownOption,
                    {LogArg::Char(static_cast<unsigned char>(word.empty() ? ' ' : word[0]))});
      return OptionsResult::kFailed;
    }

    if (option->kind == Kind::kHelp) {
      sys.log.Message(kHelpText, {kVersion});
      return OptionsResult::kHelp;
    }
    if (option->kind == Kind::kDisable) {
      enabled[option->target] = false;
      continue;
    }
    if (i >= args.size()) {
      sys.log.Error(kMsgMissingValue, {option_word});
      return OptionsResult::kFailed;
    }
    const std::string& value = args[i++];
    switch (option->kind) {
      case Kind::kDirectory:
        directories[option->target] = DirectoryValue(value, current, separator);
        // The engine directory is compared with the scripts' absolute paths
        // and stored in the script object, so it is made absolute the same way.
        if (option->target == 0) directories[0] = sys.fs.AbsolutePath(directories[0]);
        break;
      case Kind::kDepth: {
        // Read as C's %d reads: white space first, then a sign and digits.
        const size_t start = std::min(value.find_first_not_of(" \t\n\v\f\r"), value.size());
        int32_t parsed = 0;
        size_t used = ParseInteger(std::string_view(value).substr(start), &parsed);
        // A word that is not a number leaves the depth unchanged.
        if (used > 0) depth = parsed;
        break;
      }
      case Kind::kExtension:
        lists[option->target].push_back(value);
        explicit_list[option->target] = true;
        break;
      case Kind::kObjectName:
        object_names[option->target] = value;
        break;
      default:
        break;
    }
  }

  for (int kind = 0; kind < 4; ++kind) {
    if (!enabled[kind]) {
      lists[kind].clear();
    } else if (!explicit_list[kind]) {
      lists[kind].insert(lists[kind].end(), DefaultExtensions()[kind].begin(),
                         DefaultExtensions()[kind].end());
    }
  }

  sys.options.scriptObjectName = object_names[0];
  sys.options.imageObjectName = object_names[1];
  sys.options.audioObjectName = object_names[2];
  sys.options.movieObjectName = object_names[3];
  sys.options.engineDirectory = directories[0];
  sys.options.checkOnly = check_only;

  ExtensionLists extensions{lists[0], lists[1], lists[2], lists[3]};
  return SearchFiles(sys, directories[1], 0, depth, script_found, extensions)
             ? OptionsResult::kSearched
             : OptionsResult::kFailed;
}

}  // namespace kv
