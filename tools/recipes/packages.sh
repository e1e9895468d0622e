# What each job needs from Debian, and installing what is missing.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# What building and running needs, then what testing, benchmarking and
# packaging need besides, then the Windows cross-build.
run_packages=(g++ cmake make pkg-config libsdl2-dev zlib1g-dev libwayland-dev wayland-protocols
  libdecor-0-dev libdecor-0-plugin-1-cairo)
test_packages=(
  clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-xserver-utils libx11-dev libxtst-dev xdotool valgrind clang-format
  dpkg-dev lintian desktop-file-utils appstream libmpfr-dev python3-mpmath sway grim
  mutter weston kwin-wayland pipewire wireplumber gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-good
  gir1.2-gstreamer-1.0 gir1.2-gst-plugins-base-1.0
  python3-gi dbus
)
web_packages=(emscripten chromium firefox-esr webkit2gtk-driver nodejs)
# Debian's nodejs comes without npm; a nodejs from elsewhere may carry its own,
# and Debian's npm would conflict with it: ask for npm only where it is missing.
command -v npm >/dev/null 2>&1 || web_packages+=(npm)
# Debian's cross compilers and qemu-user, for the chain on other CPUs.
cpu_packages=(crossbuild-essential-arm64 crossbuild-essential-armhf crossbuild-essential-i386
  crossbuild-essential-ppc64el crossbuild-essential-s390x g++-riscv64-linux-gnu qemu-user googletest)
# What a cross-built package needs of its CPU: the libraries its program
# and its dependencies are computed from, as multiarch packages.
package_cpus=(arm64 armhf)
multiarch_packages() {
  local cpu
  for cpu in "${package_cpus[@]}"; do
    echo "libsdl2-dev:$cpu libwayland-dev:$cpu libdecor-0-dev:$cpu zlib1g-dev:$cpu"
  done
}
windows_packages=(
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 nsis openbox
  xvfb xauth xdotool libx11-dev libxtst-dev
)

install() {
  local missing=() p
  declare -A seen=()
  for p in "$@"; do
    [ -n "${seen[$p]:-}" ] && continue  # the lists share a few
    seen[$p]=1
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "dev: installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # A mirror caught mid-sync answers with lists of the wrong size for a
  # minute or so ("Mirror sync in progress?"): asked again, after a pause.
  local try
  for try in 1 2 3 4; do
    "${sudo[@]}" apt-get update -q && break
    [ "$try" -lt 4 ] || { echo "dev: apt-get update failed four times" >&2; return 1; }
    echo "dev: apt-get update failed; again in $((try * 20)) s" >&2
    sleep $((try * 20))
  done
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Adds the package CPUs as dpkg architectures (never touching the sources
# list), then installs their libraries.
install_multiarch() {
  local sudo=() cpu
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  for cpu in "${package_cpus[@]}"; do
    if ! dpkg --print-foreign-architectures | grep -qx "$cpu"; then
      "${sudo[@]}" dpkg --add-architecture "$cpu"
    fi
  done
  # shellcheck disable=SC2046
  install $(multiarch_packages)
}
