#include "show/show_list.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kFirstLine[] = "vorlix show list 2";

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

// The pictures' paths from `at` on, each a Live Photo's motion after it;
// false where they are cut short, or a motion is of no picture.
bool readEntries(const std::string &bytes, size_t at, ShowList &read) {
  while (at < bytes.size()) {
    size_t nul = bytes.find('\0', at);
    if (nul == std::string::npos)
      return false;
    std::string entry = bytes.substr(at, nul - at);
    if (entry[0] == '>' && read.motions.empty())
      return false;
    if (entry[0] == '>')
      read.motions.back() = entry.substr(1);
    else
      read.pictures.push_back(std::move(entry));
    read.motions.resize(read.pictures.size());
    at = nul + 1;
  }
  return true;
}

} // namespace

uint64_t ShuffleKey(uint64_t seed, const std::string &path) {
  uint64_t h = 0xcbf29ce484222325ull ^ seed; // FNV-1a, then mixed
  for (unsigned char c : path)
    h = (h ^ c) * 0x100000001b3ull;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

bool TakeNews(std::string &bytes, std::vector<NewsRecord> &records) {
  size_t at = 0;
  for (size_t nul; (nul = bytes.find('\0', at)) != std::string::npos;
       at = nul + 1) {
    NewsRecord r;
    const char *s = bytes.c_str() + at;
    char *rest = nullptr;
    bool live = s[0] == 'F' || s[0] == 'N';
    if (std::strchr("fnFN", s[0]) == nullptr || s[0] == '\0' || s[1] != ' ')
      return false;
    r.found = s[0] == 'f' || s[0] == 'F';
    long after = std::strtol(s + 2, &rest, 10);
    if (rest == s + 2 || *rest != ' ' || after < -1 || after > INT32_MAX)
      return false;
    r.after = int(after);
    const char *path = rest + 1;
    r.path.assign(path, size_t(bytes.c_str() + nul - path));
    if (live) { // its motion's path follows
      size_t end = bytes.find('\0', nul + 1);
      if (end == std::string::npos)
        break; // cut short
      r.motion = bytes.substr(nul + 1, end - nul - 1);
      nul = end;
    }
    records.push_back(std::move(r));
  }
  bytes.erase(0, at);
  return true;
}

std::string SeenRecordBytes(const SeenRecord &r) {
  char line[32];
  int length =
      std::snprintf(line, sizeof line, r.round ? "r %llx\n" : "s %llu\n",
                    static_cast<unsigned long long>(r.value));
  return std::string(line, size_t(length));
}

void TakeSeen(std::string &bytes, std::vector<SeenRecord> &records) {
  size_t at = 0;
  for (size_t end; (end = bytes.find('\n', at)) != std::string::npos;
       at = end + 1) {
    const char *s = bytes.c_str() + at;
    char *rest = nullptr;
    SeenRecord r;
    r.round = s[0] == 'r';
    if ((s[0] != 's' && s[0] != 'r') || s[1] != ' ')
      continue;
    r.value = std::strtoull(s + 2, &rest, r.round ? 16 : 10);
    if (rest != s + 2 && rest == bytes.c_str() + end)
      records.push_back(r);
  }
  bytes.erase(0, at);
}

std::string NewsRecordBytes(const NewsRecord &r) {
  bool live = !r.motion.empty();
  std::string kind = r.found ? (live ? "F " : "f ") : (live ? "N " : "n ");
  std::string bytes = kind + std::to_string(r.after) + " " + r.path + '\0';
  return live ? bytes + r.motion + '\0' : bytes;
}

bool WriteShowList(const std::string &path, const ShowList &list) {
  std::ostringstream out;
  out << kFirstLine << "\nseconds " << list.seconds << "\nlongest-clip "
      << list.longestClip << "\norder "
      << (list.shuffled ? "shuffled" : "listed") << "\n";
  if (list.news >= 0)
    out << "news " << list.news << "\n";
  if (list.seen >= 0)
    out << "seen " << list.seen << "\n";
  if (list.shuffled)
    out << std::hex << "seed " << list.seed << "\nafter " << list.after
        << std::dec << "\n";
  out << "\n";
  for (size_t i = 0; i < list.pictures.size(); i++) {
    out << list.pictures[i] << '\0';
    if (i < list.motions.size() && !list.motions[i].empty())
      out << '>' << list.motions[i] << '\0';
  }
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
    if (line.rfind("seconds ", 0) == 0 || line.rfind("longest-clip ", 0) == 0) {
      bool clip = line[0] == 'l';
      char *rest = nullptr;
      double &s = clip ? read.longestClip : read.seconds;
      s = std::strtod(line.c_str() + (clip ? 13 : 8), &rest);
      if (*rest != '\0' || !(s > 0 && s < 1e6))
        return false;
    } else if (line == "order shuffled" || line == "order listed") {
      read.shuffled = line == "order shuffled";
    } else if (line.rfind("news ", 0) == 0 || line.rfind("seen ", 0) == 0) {
      char *rest = nullptr;
      long fd = std::strtol(line.c_str() + 5, &rest, 10);
      if (*rest != '\0' || fd < 0 || fd > 1 << 20)
        return false;
      (line[1] == 'e' && line[2] == 'w' ? read.news : read.seen) = int(fd);
    } else if (line.rfind("seed ", 0) == 0 || line.rfind("after ", 0) == 0) {
      bool seed = line[1] == 'e';
      char *rest = nullptr;
      uint64_t v = std::strtoull(line.c_str() + (seed ? 5 : 6), &rest, 16);
      if (*rest != '\0')
        return false;
      (seed ? read.seed : read.after) = v;
    } else {
      return false;
    }
  }
  if (!readEntries(bytes, end + 2, read))
    return false;
  list = std::move(read);
  return true;
}
