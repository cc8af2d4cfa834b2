// Standard input and output as plain byte channels, for a program that
// speaks a protocol over them (the language server) rather than printing
// text for a person to read.
#pragma once

#include <cstddef>
#include <string_view>

namespace kv {

// Makes standard input and output carry bytes unchanged: binary mode on
// Windows (no CR LF translation, no end at 0x1A); on POSIX a closed output
// becomes a failed write instead of ending the process with SIGPIPE.
void PrepareByteChannels();

// Reads what standard input has, at most `size` bytes, waiting until there
// is something. Returns 0 at the end of input or when reading fails.
size_t ReadStdinSome(char* buffer, size_t size);

// Writes all of `bytes` to standard output at once, unbuffered. False when
// the output is closed or fails.
bool WriteStdoutAll(std::string_view bytes);

}  // namespace kv
