// kvdump's readers, disassembler, check and decompiler over arbitrary object
// bytes.
//
// Input: one flag byte, then an object. Flag bit 0 clear: the object as
// stored (scrambled). Bit 0 set: an unscrambled image, scrambled here with a
// fixed key, so that mutations reach the header and the code directly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kvdump/checker.h"
#include "kvdump/kvdump.h"
#include "kvdump/object_reader.h"
#include "output/scramble.h"
#include "run_checks.h"
#include "test_support/scramble_reference.h"
#include "test_support/source_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv;
  if (size == 0) return 0;
  std::string stored(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) stored = ScrambleBytes(stored, ScrambleKey{37, 5});

  std::string text;
  kvdump::Problem inspect_problem, check_problem;
  const bool inspected = kvdump::InspectStoredObject(stored, &text, &inspect_problem);
  const bool sound = kvdump::CheckStoredObject(stored, &check_problem);
  if (inspected != sound) {
    fuzz::Fail("the inspection and the check disagree: " + inspect_problem.message + " / " +
                   check_problem.message,
               text);
  }
  if (sound) {
    // A sound object reads back whole: its image scrambles to the same bytes
    // under its own key and step.
    std::string image;
    kvdump::Problem problem;
    if (!kvdump::Unscramble(stored, &image, &problem)) {
      fuzz::Fail("a sound object does not unscramble", text);
    }
    const uint64_t at = ScrambleKeyOffset(image.size());
    const ScrambleKey key{static_cast<uint8_t>(stored[at]), static_cast<uint8_t>(stored[at + 1])};
    if (ScrambleBytes(image, key) != stored) fuzz::Fail("unscrambling does not round-trip", text);
    // kvdump --source refuses what fits no statement, and what it writes
    // converts back to the same code: it never guesses.
    if (image.compare(0, 3, "KVS") == 0) {
      std::string difference;
      bool refused = false;
      if (!SourceRoundTrip(stored, &difference, &refused) && !refused) fuzz::Fail(difference, text);
    }
  }

  // The program over the same bytes: its exit status says the same.
  MemoryFileSystem fs("/work");
  fs.AddFile("/work/object.kvo", stored);
  std::string out, err;
  kvdump::Environment env{fs, [&](std::string_view s) { out.append(s); },
                          [&](std::string_view s) { err.append(s); }, true, nullptr};
  const int status = kvdump::Run({"kvdump", "--check", "object.kvo"}, env);
  if (status != (sound ? 0 : 1)) {
    fuzz::Fail("kvdump --check exits with " + std::to_string(status), out + err);
  }
  const int listing = kvdump::Run({"kvdump", "-d", "object.kvo"}, env);
  if (sound && listing != 0) fuzz::Fail("the listing of a sound object fails", out + err);
  if (fs.Files().size() != 1) fuzz::Fail("kvdump wrote a file", out + err);
  return 0;
}
