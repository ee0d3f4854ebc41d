#include "launcher/library_watch.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

bool sameTime(const timespec &a, const timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Lists a folder again, or for the first time (a new one, entered once),
// and its new subfolders in turn: pictures not known yet begin to arrive.
void listAgain(LibraryWatch &w, ReadFolder folder, bool isNew) {
  std::vector<ReadFolder> pending = {folder};
  while (!pending.empty()) {
    ReadFolder f = std::move(pending.back());
    pending.pop_back();
    FolderListing listing;
    if (!ListFolder(f.path, f.key, w.subfolders, w.clips, listing) ||
        (isNew && !EnterOnce(w.entered, listing.device, listing.inode)))
      continue;
    f.device = listing.device;
    f.inode = listing.inode;
    f.modified = listing.modified;
    if (isNew)
      w.folders.push_back(f);
    isNew = true; // its subfolders, where they are new
    for (auto &p : listing.pictures) {
      std::string path = f.path + "/" + p.first;
      struct stat st;
      bool arriving = false;
      for (const LibraryWatch::Arriving &a : w.arriving)
        arriving = arriving || a.picture.path == path;
      if (!w.known.count(path) && !arriving && stat(path.c_str(), &st) == 0)
        w.arriving.push_back(
            {{path, p.second, MotionOf(listing, f.path, p.first)},
             st.st_size,
             st.st_mtim});
    }
    for (auto &s : listing.subfolders) {
      struct stat st;
      std::string path = f.path + "/" + s.first;
      auto id = std::make_pair(dev_t(0), ino_t(0));
      if (stat(path.c_str(), &st) == 0)
        id = {st.st_dev, st.st_ino};
      if (!std::binary_search(w.entered.begin(), w.entered.end(), id))
        pending.push_back({path, s.second, f.root, 0, 0, {}});
    }
  }
}

} // namespace

void WatchWhatWasWalked(LibraryWatch &watch, const LibraryWalk &walk) {
  watch.folders = walk.folders;
  watch.entered = walk.entered;
  watch.subfolders = walk.subfolders;
  watch.clips = walk.clips;
}

void LookAgain(LibraryWatch &w, bool all, double now,
               std::vector<FoundPicture> &settled) {
  for (size_t i = 0; all && i < w.folders.size();) {
    ReadFolder &f = w.folders[i];
    struct stat st;
    if (stat(f.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      w.folders.erase(w.folders.begin() + long(i)); // gone
      continue;
    }
    if (!sameTime(st.st_mtim, f.modified) || st.st_ino != f.inode) {
      f.modified = st.st_mtim;
      listAgain(w, f, false);
    }
    i++;
  }
  size_t first = settled.size();
  for (size_t i = 0; i < w.arriving.size();) {
    LibraryWatch::Arriving &a = w.arriving[i];
    struct stat st;
    bool gone = stat(a.picture.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode);
    bool still = !gone && st.st_size == a.size &&
                 sameTime(st.st_mtim, a.modified) &&
                 now - double(st.st_mtim.tv_sec) >= kSettledSeconds;
    if (!gone && !still) {
      a.size = st.st_size;
      a.modified = st.st_mtim;
      i++;
      continue;
    }
    if (still) {
      w.known.insert(a.picture.path);
      settled.push_back(std::move(a.picture));
    }
    w.arriving.erase(w.arriving.begin() + long(i));
  }
  std::sort(settled.begin() + long(first), settled.end(),
            [](const FoundPicture &a, const FoundPicture &b) {
              return a.key < b.key;
            });
}
