#include "Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "Platform.h"

namespace cli {

namespace {

int gOutErrno = 0;

ssize_t WriteOut(void*, const char* buf, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(STDOUT_FILENO, buf + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (gOutErrno == 0) gOutErrno = n < 0 ? errno : EIO;
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

}  // namespace

void InitStandardStreams() {
  // A closed descriptor would be handed to the next file the program opens (a results
  // database, say) and output would land in it. /dev/null opened for reading holds the place
  // and refuses writes, so writing still fails as it would on the closed descriptor.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      ::close(null);
    }
  }
  cookie_io_functions_t io{};
  io.write = WriteOut;
  if (std::FILE* out = fopencookie(nullptr, "w", io)) {
    // Same buffering as the standard stream: by line on a terminal, in blocks elsewhere.
    setvbuf(out, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, isatty(STDOUT_FILENO) ? BUFSIZ : 1 << 16);
    stdout = out;
  }
}

bool OutputFailed() { return gOutErrno != 0 || std::ferror(stdout); }

bool FinishOutput() {
  const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) || gOutErrno != 0;
  if (!failed) return true;
  if (gOutErrno != EPIPE)
    ErrPrintf("verimek-cli: cannot write standard output (%s)\n", std::strerror(gOutErrno ? gOutErrno : EIO));
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  struct Closer {
    std::FILE* F;
    ~Closer() { std::fclose(F); }
  } closer{f};
  char buf[1 << 16];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  return !std::ferror(f);
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

void ErrPrintf(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    va_end(again);
    common::WriteStdErr(std::string_view(small, static_cast<std::size_t>(n)));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, again);
  va_end(again);
  big.pop_back();
  common::WriteStdErr(big);
}

}  // namespace cli
