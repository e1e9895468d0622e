# The chain on other CPUs, under qemu-user, and their Debian packages.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# The chain on other CPUs: built with Debian's cross compilers (GoogleTest
# from its sources), its unit tests, fingerprints and golden traces run
# under qemu-user against the same recorded values as on x86-64.
cpus() {
  for cpu in "$@"; do
    echo "== $cpu, under qemu-user"
    build "$cpu"
    ctest --preset "$cpu" -j "$(nproc)"
  done
}

# The Debian package for another CPU, built here or the one given (the
# release's): checked with lintian, its program run under qemu-user (its
# version; its window on Xvfb, at rest), and its drawing compared byte for
# byte with this machine's for the same pointer script, on the null backend.
cross_package() {
  local cpu=$1 qemu deb=${2:-} tests=build/package-$1
  case "$cpu" in arm64) qemu="qemu-aarch64" ;; armhf) qemu="qemu-arm" ;; esac
  echo "== package for $cpu"
  # The drawing is checked in a build of the package's configuration with
  # its tests; the tests proper run in the CPU's own build (cpus).
  if [ -z "$deb" ]; then
    build "package-$cpu" --target chain chain-data web-reference
    cpack --preset "deb-$cpu" >/dev/null
    deb=build/package-$cpu/chain_$(version)_${cpu}.deb
  else
    build "package-$cpu" --target web-reference
  fi
  lintian --allow-root --fail-on error "$deb"
  echo "lintian: no errors; depends: $(dpkg-deb -f "$deb" Depends)"
  local unpacked
  unpacked=$(mktemp -d)
  dpkg-deb -x "$deb" "$unpacked"
  [ "$("$qemu" "$unpacked/usr/bin/chain" --version)" = "$(version)" ] || { echo "package: $cpu --version"; exit 1; }
  [ -x build/release/tests/e2e_x11 ] || build release --target e2e_x11 web-reference
  bash tests/support/with_xvfb.sh -screen 0 1280x1024x24 -- build/release/tests/e2e_x11 --idle --wait 300 \
    -- "$qemu" "$unpacked/usr/bin/chain"
  rm -rf "$unpacked"
  "$qemu" "$tests/tests/web-reference" giant
  "$qemu" "$tests/tests/web-reference" 1 "$tests/drawn.rgba"
  build/release/tests/web-reference 1 "$tests/expected.rgba"
  cmp "$tests/drawn.rgba" "$tests/expected.rgba"
  echo "package for $cpu: its drawing is byte for byte this machine's"
}
