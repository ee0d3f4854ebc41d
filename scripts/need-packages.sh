# Sourced by ./run, ./test, ./bench and ./package: need_packages PKG... installs
# the Debian packages that are not installed yet (through sudo when not root).
# A name written ?PKG is installed only where the archive offers it (a
# package that one Debian release has and another does not).
need_packages() {
  local missing=() offered=() p
  for p in "$@"; do
    case $p in
      \?*) p=${p#\?}
        installed "$p" || offered+=("$p") ;;
      *) installed "$p" || missing+=("$p") ;;
    esac
  done
  [ ${#missing[@]} -eq 0 ] && [ ${#offered[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # A fresh system has no package lists to ask yet (dpkg is in every one).
  if [ ${#missing[@]} -gt 0 ] || ! apt-cache show dpkg >/dev/null 2>&1; then
    "${sudo[@]}" apt-get update -qq
  fi
  for p in ${offered[@]+"${offered[@]}"}; do
    ! apt-cache show "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# What building and running the viewer needs: besides SOIL, pictures are read
# with libjpeg-turbo, with GdkPixbuf and its loaders for WebP, HEIF and AVIF,
# with libjxl, librsvg (drawings, their text in the DejaVu fonts where no
# other fonts are installed) and LibRaw (camera RAW photos); animations with
# giflib, libpng, libwebp's demuxer and libavif; clips with FFmpeg's
# libraries; their colours are converted
# with lcms2.
BUILD_PACKAGES=(cmake make g++ pkg-config freeglut3-dev libglu1-mesa-dev
                libgl-dev libx11-dev libxext-dev libsoil-dev libseccomp-dev libjpeg-dev
                libgdk-pixbuf-2.0-dev liblcms2-dev zlib1g-dev libjxl-dev
                libgl1-mesa-dri libgdk-pixbuf-2.0-0 webp-pixbuf-loader
                heif-gdk-pixbuf libavif-gdk-pixbuf librsvg2-dev libraw-dev
                fonts-dejavu-core libgif-dev libpng-dev libwebp-dev
                libavif-dev libheif-dev libavformat-dev libavcodec-dev
                libswscale-dev libavutil-dev)

# What the tests of pictures and of the viewer need besides: GoogleTest, an X
# server and its tools, and the programs that write the tests' pictures and
# clips.
TEST_PACKAGES=(googletest libgtest-dev libx11-dev libheif-dev libxfixes-dev
               xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick
               ffmpeg libimage-exiftool-perl libjxl-tools webp
               libheif-examples libavif-bin librsvg2-bin
               '?libheif-plugin-x265' '?libheif-plugin-aomenc')
