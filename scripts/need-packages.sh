# Sourced by ./run, ./test, ./bench and ./package: need_packages PKG... installs
# the Debian packages that are not installed yet (through sudo when not root).
need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
}

# What building and running the viewer needs: besides SOIL, pictures are read
# with libjpeg-turbo, with GdkPixbuf and its loaders for WebP, HEIF and AVIF,
# and with libjxl; their colours are converted with lcms2.
BUILD_PACKAGES=(cmake make g++ pkg-config freeglut3-dev libglu1-mesa-dev
                libgl-dev libx11-dev libsoil-dev libseccomp-dev libjpeg-dev
                libgdk-pixbuf-2.0-dev liblcms2-dev zlib1g-dev libjxl-dev
                libgl1-mesa-dri libgdk-pixbuf-2.0-0 webp-pixbuf-loader
                heif-gdk-pixbuf libavif-gdk-pixbuf)
