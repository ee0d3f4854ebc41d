// Files that are one photo: a camera's RAW and its JPEG or HEIC, a Live
// Photo's HEIC or JPEG and its MOV.
#include "launcher/one_photo.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <strings.h>

#include "picture/kinds.h"
#include "picture/live_photos.h"

namespace {

// Whether a file is named as a camera's RAW photo, or as the JPEG or HEIC
// the camera makes of the same shot; and its name without its ending, in
// lower case.
bool namedAs(const std::string &name, PictureKindId kind) {
  return KindNamed(name.c_str()) == kind;
}
std::string stem(const std::string &name) {
  std::string s = name.substr(0, name.rfind('.'));
  for (char &c : s)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// An iPhone's Live Photo: the MOV of its motion beside the photo.
bool namedAsMotion(const std::string &name) {
  size_t dot = name.rfind('.');
  return dot != name.npos && strcasecmp(name.c_str() + dot, ".mov") == 0;
}

} // namespace

std::string MotionBeside(const std::string &photo) {
  size_t slash = photo.rfind('/');
  std::string folder = slash == photo.npos ? "." : photo.substr(0, slash);
  std::string name = slash == photo.npos ? photo : photo.substr(slash + 1);
  if (!namedAs(name, kJpegKind) && !namedAs(name, kHeifKind))
    return "";
  DIR *dir = opendir(folder.empty() ? "/" : folder.c_str());
  std::string motion;
  while (dir != nullptr && motion.empty())
    if (dirent *e = readdir(dir)) {
      std::string other = e->d_name, path = folder + "/" + other;
      if (namedAsMotion(other) && stem(other) == stem(name) &&
          SameMoment(photo, path))
        motion = path;
    } else {
      break;
    }
  if (dir != nullptr)
    closedir(dir);
  return motion;
}

void OneOfEachPhoto(const std::string &folder, FolderListing &listing) {
  auto &pictures = listing.pictures;
  std::map<std::string, std::string> rendered; // by stem: the photo's name
  for (const auto &p : pictures)
    if (namedAs(p.first, kJpegKind) || namedAs(p.first, kHeifKind))
      rendered.emplace(stem(p.first), p.first);
  if (rendered.empty())
    return;
  auto partOfAPhoto = [&](const std::pair<std::string, PlaceKey> &p) {
    auto photo = rendered.find(stem(p.first));
    if (photo == rendered.end())
      return false;
    if (namedAs(p.first, kCameraRawKind))
      return true;
    if (!namedAsMotion(p.first) ||
        !SameMoment(folder + "/" + photo->second, folder + "/" + p.first))
      return false;
    listing.motions[photo->second] = p.first;
    return true;
  };
  pictures.erase(std::remove_if(pictures.begin(), pictures.end(), partOfAPhoto),
                 pictures.end());
}
