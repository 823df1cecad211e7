// Any text through the message object: InputStream, a full walk with every read member,
// Generate, edits and the streaming writer. Never a crash, a hang, a leak or a broken
// invariant; see ParserExercise.h.
#include <cstdint>
#include <cstdlib>

#include "ErrorReporter.h"
#include "ParserExercise.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kalvix::ErrorReporter::SetEchoEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kalvix::fuzz::ExerciseParser(data, size);
  return 0;
}
