// Printing an object file for people: the header listing, and the code of a
// script object one command a line, with parameters in infix form.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "kvdump/object_reader.h"

namespace kv::kvdump {

// Where a listing goes, a line at a time as it is made.
using TextSink = std::function<void(std::string_view)>;

struct TextStyle {
  bool utf8 = true;      // script text converted from CP932 to UTF-8, else left as CP932
  bool postfix = false;  // parameters as their stored postfix items
};

// Script text (strings, variable, label and function names) for the
// console, CP932 converted as the style asks; bytes that are not printable
// CP932 characters become escapes (\n, \t, \r, \xNN). Quoted text is put in
// double quotes, with \" and \\ escaped.
std::string ScriptText(std::string_view bytes, bool utf8, bool quoted);

// A stored path or name (CP932), or a path of the command line, for the
// console: as ScriptText gives it unquoted, in the encoding that
// SetPathTextUtf8 chose (UTF-8 unless told otherwise). One setting for the
// whole program, since every message of a run goes to the same console;
// kvdump's Run sets it from its environment.
std::string PathText(std::string_view bytes);
void SetPathTextUtf8(bool utf8);

// The shortest decimal form that reads back as the same double.
std::string NumberText(double value);

// One parameter: a jump as "-> target (+distance)", an expression in infix
// form with brackets only where precedence needs them (or its postfix items
// in [ ] when the style asks, or when the items do not form an expression).
std::string ParameterText(const CodeParameter& parameter, const CodeCommand& command,
                          const TextStyle& style);

// The name of a command id: the vocabulary's, "(jump)" for the jump of the
// block statements, "(text)" for an implicit text statement.
std::string CommandName(int32_t id);

// The header: kind, sizes, entries, and for a script object the labels,
// functions and engine directory.
void HeaderListing(std::string_view file_name, std::string_view image, const ObjectHeader& header,
                   const TextStyle& style, const TextSink& out);

// The code of every script of a script object, one command a line with its
// entry index, each label and function on a line of its own before the
// entry it names, in the first script of its path. Stops with the problem at
// the first script whose code is malformed, after printing the commands
// before it. Prints a line for each command and each definition and two for
// each script: the lines grow with the entries of the object, never with
// pairs of them.
bool Disassemble(std::string_view image, const ObjectHeader& header, const TextStyle& style,
                 const TextSink& out, Problem* problem);

}  // namespace kv::kvdump
