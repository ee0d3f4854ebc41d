#include "show/show_list.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kFirstLine[] = "vorlix show list 1";

// The most bytes read: far more than a list of a million pictures takes.
constexpr off_t kMaxListBytes = off_t(1) << 30;

bool readAll(const std::string &path, std::string &bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  bool read = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              st.st_size <= kMaxListBytes;
  if (read) {
    bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = ::read(fd, &bytes[got], bytes.size() - got);
      if (n <= 0)
        break;
      got += size_t(n);
    }
    read = got == bytes.size();
  }
  if (fd >= 0)
    close(fd);
  return read;
}

} // namespace

bool WriteShowList(const std::string &path, const ShowList &list) {
  std::ostringstream out;
  out << kFirstLine << "\nseconds " << list.seconds << "\norder "
      << (list.shuffled ? "shuffled" : "listed") << "\n\n";
  for (const std::string &picture : list.pictures)
    out << picture << '\0';
  std::string bytes = out.str();
  FILE *f = std::fopen(path.c_str(), "wbe");
  bool written = f != nullptr &&
                 std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr && std::fclose(f) != 0)
    written = false;
  return written;
}

bool ReadShowList(const std::string &path, ShowList &list) {
  std::string bytes;
  size_t end = 0;
  if (!readAll(path, bytes) || (end = bytes.find("\n\n")) == std::string::npos)
    return false;
  ShowList read;
  std::istringstream settings(bytes.substr(0, end + 1));
  std::string line;
  if (!std::getline(settings, line) || line != kFirstLine)
    return false;
  while (std::getline(settings, line)) {
    if (line.rfind("seconds ", 0) == 0) {
      char *rest = nullptr;
      read.seconds = std::strtod(line.c_str() + 8, &rest);
      if (*rest != '\0' || !(read.seconds > 0 && read.seconds < 1e6))
        return false;
    } else if (line == "order shuffled" || line == "order listed") {
      read.shuffled = line == "order shuffled";
    } else {
      return false;
    }
  }
  for (size_t at = end + 2; at < bytes.size();) {
    size_t nul = bytes.find('\0', at);
    if (nul == std::string::npos)
      return false; // cut short
    read.pictures.push_back(bytes.substr(at, nul - at));
    at = nul + 1;
  }
  list = std::move(read);
  return true;
}
