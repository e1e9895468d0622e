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
  for cpu in "$@"; do
    echo "libsdl2-dev:$cpu libwayland-dev:$cpu libdecor-0-dev:$cpu zlib1g-dev:$cpu"
  done
}
# Those of them whose libraries could not be installed (install_multiarch),
# and the others, whose packages are built and checked.
unusable_cpus=()
usable_package_cpus() {
  local cpu
  for cpu in "${package_cpus[@]}"; do
    [[ " ${unusable_cpus[*]} " == *" $cpu "* ]] || echo "$cpu"
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
  for try in 1 2 3; do
    "${sudo[@]}" apt-get update -q && break
    # Then from the lists there are: apt keeps the old ones of an archive
    # it could not update, and says if what is asked cannot be had.
    [ "$try" -lt 3 ] || { echo "dev: apt-get update failed three times; going on with the lists there are" >&2; break; }
    echo "dev: apt-get update failed; again in $((try * 10)) s" >&2
    sleep $((try * 10))
  done
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Adds the package CPUs as dpkg architectures (never touching the sources
# list), then installs their libraries. A mirror that serves one CPU's list
# broken for hours (seen: armhf's security updates, "File has unexpected
# size ... Mirror sync in progress?") makes apt take no new list of that
# archive for any foreign CPU, whose libraries then clash with the
# machine's updated ones. Each CPU is then tried alone, with only its own
# lists; one that still fails is left out of the packages built and
# checked (unusable_cpus), in a warning here and in the test command's table.
install_multiarch() {
  local sudo=() cpu native
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  native=$(dpkg --print-architecture)
  for cpu in "${package_cpus[@]}"; do
    if ! dpkg --print-foreign-architectures | grep -qx "$cpu"; then
      "${sudo[@]}" dpkg --add-architecture "$cpu"
    fi
  done
  # shellcheck disable=SC2046
  install $(multiarch_packages "${package_cpus[@]}") && return 0
  echo "dev: the libraries of ${package_cpus[*]} could not be installed together; each CPU alone" >&2
  unusable_cpus=()
  for cpu in "${package_cpus[@]}"; do
    # shellcheck disable=SC2046
    "${sudo[@]}" apt-get update -q -o "APT::Architectures=$native,$cpu" &&
      DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        $(multiarch_packages "$cpu") && continue
    unusable_cpus+=("$cpu")
    echo "dev: WARNING: $cpu's libraries cannot be installed from the package lists this machine" \
      "can fetch; its package is neither built nor checked" >&2
  done
}
