// Standard output and standard error of verimek-cli: results go to standard output, which is
// checked write by write; diagnostics go to standard error one whole line at a time.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Routes stdout through a stream that remembers the first failed write, and gives closed
// standard descriptors a stand-in so that no file opened later takes their number.
void InitStandardStreams();
// True once a write to standard output has failed; long outputs stop there.
bool OutputFailed();
// Flushes standard output. On failure writes the reason to standard error (nothing for a closed
// pipe, as Unix tools do) and returns false.
bool FinishOutput();

// The whole file into out; false when it cannot be opened or read (a directory opens but fails
// on reading). Raises std::bad_alloc when it does not fit, never hands out a cut text.
bool ReadWholeFile(const std::string& path, std::string& out);

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(std::string_view text);

// printf to standard error as one write, under the lock every module of the process shares.
void ErrPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cli
