#include "driver/options.h"

#include <algorithm>
#include <cstdint>

#include "driver/file_search.h"
#include "driver/route_map.h"
#include "context/kc_system.h"
#include "platform/file_system.h"
#include "platform/lexical_path.h"
#include "platform/version.h"
#include "source/numbers.h"

namespace kv {
namespace {

constexpr std::string_view kMsgVersion = "KVConverter %s\n";
constexpr std::string_view kMsgUnknownOption = "不明なオプションです \"%s\"\n";
constexpr std::string_view kMsgMissingValue = "オプション \"%s\" に値が指定されていません\n";
constexpr std::string_view kMsgUnknownCheck = "--no-warn に不明な警告の名前があります \"%s\"\n";
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
// The long options, one line each after the text of the short ones above.
constexpr std::string_view kHelpLongOptions =
    "--check                        : ファイルを書き込まずにコンバートし、エラーと警告を表示する\n"
    "--diagnostics=gnu              : エラーと警告を PATH:LINE:COL: error: MESSAGE の形式で表示する\n"
    "--console-encoding=utf-8|cp932 : 表示の文字コード (デフォルト : ロケールまたはコンソールに合わせる)\n"
    "--source-encoding=utf-8|cp932  : スクリプトファイルの文字コード (デフォルト : cp932)\n"
    "--no-warn=NAME[,NAME...]       : 名前の警告を出さない (%s)\n"
    "--werror                       : 警告があれば失敗とする\n"
    "--route-map=FILE               : --check と同じくコンバートし、ルートマップを FILE (.dot .json .svg) に書き込む\n"
    "--help                         : ヘルプ表示 (h と同じ)\n"
    "--version                      : バージョン表示\n";
constexpr std::string_view kMsgRouteMapExtension =
    "--route-map のファイル名は .dot, .json, .svg のどれかで終わる必要があります \"%s\"\n";
constexpr std::string_view kMsgRouteMapNoGraphviz =
    "--route-map の .svg は Graphviz のライブラリ (libgraphviz-dev) を組み込んだビルドでのみ使えます \"%s\"\n";
constexpr std::string_view kNoteSeeHelp = "オプションの一覧は KVConverter --help で表示できます\n";

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
  if (EndsWithSeparator(value)) return value;
  return value + separator;
}

void PrintHelp(KCSystem& sys) {
  sys.log.Message(kHelpText, {kVersion});
  std::string names;
  for (std::string_view name : kCheckNames) {
    if (!names.empty()) names += ", ";
    names += name;
  }
  sys.log.Message(kHelpLongOptions, {names});
}

// An option error: the word or letter it concerns, and where to look.
OptionsResult OptionError(KCSystem& sys, std::string_view message, std::string_view what) {
  sys.log.Error(message, {LogArg::Path(what)});
  sys.log.Note(kNoteSeeHelp);
  return OptionsResult::kFailed;
}

constexpr std::string_view kConsoleEncodingWord = "--console-encoding=";
constexpr std::string_view kNoWarnWord = "--no-warn=";
constexpr std::string_view kSourceEncodingWord = "--source-encoding=";
constexpr std::string_view kRouteMapWord = "--route-map=";

// The encoding an encoding word names: "utf-8" or "cp932"; false for any
// other value.
bool EncodingValue(std::string_view word, std::string_view prefix, bool* utf8) {
  if (!word.starts_with(prefix)) return false;
  const std::string_view value = word.substr(prefix.size());
  *utf8 = value == "utf-8";
  return *utf8 || value == "cp932";
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
  std::string current;
  const bool current_has_cp932_form = sys.fs.CurrentDirectory(&current);
  current += separator;
  std::string directories[2] = {current, current};
  int32_t depth = -1;
  std::vector<std::string> lists[4];
  bool enabled[4] = {true, true, true, true};
  bool explicit_list[4] = {false, false, false, false};
  std::string object_names[4] = {"script.kvo", "image.kvo", "audio.kvo", "movie.kvo"};

  bool check_only = false;
  bool source_utf8 = false;
  bool werror = false;
  std::string route_map;
  CheckSet checks = CheckSet::All();
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
        PrintHelp(sys);
        return OptionsResult::kHelp;
      }
      if (word == "--version") {
        sys.log.Message(kMsgVersion, {kVersion});
        return OptionsResult::kHelp;
      }
      bool utf8 = false;
      if (word == "--check") {
        check_only = true;
      } else if (word == "--diagnostics=gnu") {
        // Applies at once, so the option errors that follow read the same.
        sys.log.set_style(DiagnosticsStyle::kGnu);
      } else if (word == "--werror") {
        werror = true;
      } else if (word.starts_with(kRouteMapWord)) {
        route_map = word.substr(kRouteMapWord.size());
        if (route_map.empty()) return OptionError(sys, kMsgMissingValue, kRouteMapWord);
        const RouteMapFormat format = RouteMapFormatOf(route_map);
        if (format == RouteMapFormat::kNone) return OptionError(sys, kMsgRouteMapExtension, route_map);
        if (format == RouteMapFormat::kSvg && !RouteMapCanLayOut()) {
          return OptionError(sys, kMsgRouteMapNoGraphviz, route_map);
        }
        check_only = true;
      } else if (word.starts_with(kNoWarnWord)) {
        // Names separated by commas; each must name a check.
        std::string_view names = std::string_view(word).substr(kNoWarnWord.size());
        for (;;) {
          const size_t comma = std::min(names.find(','), names.size());
          Check check;
          if (!FindCheck(names.substr(0, comma), &check)) {
            return OptionError(sys, kMsgUnknownCheck, names.substr(0, comma));
          }
          checks.Remove(check);
          if (comma == names.size()) break;
          names.remove_prefix(comma + 1);
        }
      } else if (EncodingValue(word, kSourceEncodingWord, &utf8)) {
        source_utf8 = utf8;
      } else if (EncodingValue(word, kConsoleEncodingWord, &utf8)) {
        // Taken before the run began (ConsoleEncodingFor).
      } else {
        return OptionError(sys, kMsgUnknownOption, word);
      }
      continue;
    }
    if (!word.empty() && word[0] == '-') {
      uint32_t bits = 0;
      for (size_t k = 1; k < word.size(); ++k) {
        uint32_t bit = LetterBit(word[k]);
        if (bit == 0) return OptionError(sys, kMsgUnknownOption, word.substr(k, 1));
        bits |= bit;
      }
      option = FindOption(bits);
      option_word = word;
      ++i;
      if (option == nullptr) {
        return OptionError(sys, kMsgUnknownOption, word.substr(word.size() > 1 ? 1 : 0, 1));
      }
    } else if (option == nullptr || option->kind == Kind::kDisable) {
      // A value with no option before it that takes values.
      return OptionError(sys, kMsgUnknownOption, word.empty() ? " " : word.substr(0, 1));
    }

    if (option->kind == Kind::kHelp) {
      PrintHelp(sys);
      return OptionsResult::kHelp;
    }
    if (option->kind == Kind::kDisable) {
      enabled[option->target] = false;
      continue;
    }
    if (i >= args.size()) return OptionError(sys, kMsgMissingValue, option_word);
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

  // Every path of the run is made from the current directory's.
  if (!current_has_cp932_form) {
    current.pop_back();
    sys.log.Error(kMsgNoCp932Name, {LogArg::Own(current)});
    return OptionsResult::kFailed;
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
  sys.options.searchDirectory = sys.fs.AbsolutePath(directories[1]);
  sys.options.checkOnly = check_only;
  sys.options.routeMapPath = route_map;
  sys.options.sourceIsUtf8 = source_utf8;
  // The checks of what compiles but is likely wrong run in a check only.
  sys.options.checks = check_only ? checks : CheckSet();
  sys.options.warningsAreErrors = werror;
  for (FileKind kind : kFileKinds) sys.options.extensions[kind] = lists[static_cast<size_t>(kind)];

  ExtensionLists extensions{lists[0], lists[1], lists[2], lists[3]};
  return SearchFiles(sys, directories[1], 0, depth, script_found, extensions)
             ? OptionsResult::kSearched
             : OptionsResult::kFailed;
}

ConsoleEncoding ConsoleEncodingFor(const std::vector<std::string>& args, ConsoleEncoding detected) {
  ConsoleEncoding encoding = detected;
  bool utf8 = false;
  for (const std::string& word : args) {
    if (EncodingValue(word, kConsoleEncodingWord, &utf8)) {
      encoding = utf8 ? ConsoleEncoding::kUtf8 : ConsoleEncoding::kCp932;
    }
  }
  return encoding;
}

}  // namespace kv
