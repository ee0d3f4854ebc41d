#include "launcher/show_place.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "show/show_list.h"

namespace {

const char kFirstLine[] = "vorlix place 1\n";
constexpr size_t kMaxPlaces = 32;
constexpr off_t kMaxPlaceBytes = 64 << 10;

std::string folder() {
  const char *state = std::getenv("XDG_STATE_HOME");
  const char *home = std::getenv("HOME");
  if (state != nullptr && state[0] == '/')
    return std::string(state) + "/vorlix";
  return home != nullptr && home[0] == '/'
             ? std::string(home) + "/.local/state/vorlix"
             : "";
}

std::string fileFor(const std::string &identity) {
  char name[32];
  std::snprintf(name, sizeof name, "/place-%016llx",
                static_cast<unsigned long long>(ShuffleKey(0, identity)));
  return folder() + name;
}

bool readSmall(const std::string &path, std::string &bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  bool ok = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_size <= kMaxPlaceBytes;
  if (ok) {
    bytes.resize(size_t(st.st_size));
    ok = read(fd, &bytes[0], bytes.size()) == ssize_t(bytes.size());
  }
  if (fd >= 0)
    close(fd);
  return ok;
}

// Makes the folder and its parents, as far as they are missing.
void makeFolder(const std::string &path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0700);
  mkdir(path.c_str(), 0700);
}

// Beyond kMaxPlaces kept places, the oldest go.
void dropOldest(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr)
    return;
  std::vector<std::pair<long long, std::string>> places;
  while (dirent *e = readdir(d)) {
    struct stat st;
    if (std::string(e->d_name).rfind("place-", 0) == 0 &&
        fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
      places.push_back({st.st_mtim.tv_sec, e->d_name});
  }
  closedir(d);
  if (places.size() <= kMaxPlaces)
    return;
  std::sort(places.begin(), places.end());
  for (size_t i = 0; i + kMaxPlaces < places.size(); i++)
    unlink((dir + "/" + places[i].second).c_str());
}

} // namespace

std::string PlaceIdentity(const std::vector<std::string> &paths, bool shuffled,
                          bool subfolders) {
  std::string identity = shuffled ? "shuffled" : "listed";
  identity += subfolders ? " subfolders" : " own";
  for (const std::string &p : paths)
    identity += '\0' + p;
  return identity;
}

ShowPlace ReadPlace(const std::string &identity) {
  ShowPlace place;
  std::string bytes, wanted = kFirstLine;
  if (folder().empty() || !readSmall(fileFor(identity), bytes) ||
      bytes.compare(0, wanted.size(), wanted) != 0)
    return place;
  // The first line, the seed, then NUL-ended: the identity, the last path.
  size_t at = wanted.size();
  char *rest = nullptr;
  uint64_t seed = std::strtoull(bytes.c_str() + at, &rest, 16);
  if (rest == bytes.c_str() + at || *rest != '\n')
    return place;
  at = size_t(rest - bytes.c_str()) + 1;
  size_t end = bytes.find(std::string(1, '\0') + '\x01', at);
  if (end == std::string::npos || bytes.compare(at, end - at, identity) != 0)
    return place; // damaged, or another set's of the same name
  at = end + 2;
  size_t last = bytes.find('\0', at);
  if (last == std::string::npos || last + 1 != bytes.size())
    return place;
  place.known = true;
  place.seed = seed;
  place.last = bytes.substr(at, last - at);
  return place;
}

bool WritePlace(const std::string &identity, const ShowPlace &place) {
  std::string dir = folder();
  if (dir.empty())
    return false;
  makeFolder(dir);
  char seed[32];
  std::snprintf(seed, sizeof seed, "%llx\n",
                static_cast<unsigned long long>(place.seed));
  std::string bytes = kFirstLine + std::string(seed) + identity + '\0' +
                      '\x01' + place.last + '\0';
  std::string file = fileFor(identity), fresh = file + ".new";
  int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok =
      fd >= 0 && write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  ok = ok && fsync(fd) == 0; // on the disk before it takes the old one's name
  ok = fd >= 0 && close(fd) == 0 && ok;
  ok = ok && rename(fresh.c_str(), file.c_str()) == 0;
  if (!ok)
    unlink(fresh.c_str());
  else
    dropOldest(dir);
  return ok;
}
