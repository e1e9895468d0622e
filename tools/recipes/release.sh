# The release, reproducibly, and its second build compared.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# The release in dist/ (tools/release); with RELEASE_TWICE=1 (and in the
# test command) a second time, in another folder, another time zone, umask
# and locale, and the two compared byte for byte.
reproduced() {
  release_cpus
  tools/release dist
  [ -n "${RELEASE_TWICE:-}" ] || return 0
  release_again
  release_compared
}

# The packages' CPUs: every one whose libraries are here (all of them,
# unless a mirror failed them; see install_multiarch).
release_cpus() {
  RELEASE_CPUS=${RELEASE_CPUS:-$(echo amd64 $(usable_package_cpus))}
  export RELEASE_CPUS
}

# The second build, in another folder, time zone, umask and locale.
release_again() {
  release_cpus
  rm -rf build/release-again
  (umask 077 && TZ=Pacific/Kiritimati LC_ALL=POSIX tools/release build/release-again/dist) >/dev/null
  echo "release: built again in build/release-again"
}

release_compared() {
  if cmp -s dist/SHA256SUMS build/release-again/dist/SHA256SUMS; then
    echo "release: built twice, the same bytes ($(($(wc -l <dist/SHA256SUMS))) files)"
  else
    diff dist/SHA256SUMS build/release-again/dist/SHA256SUMS || true
    echo "release: the second build differs"
    exit 1
  fi
  (cd dist && sha256sum -c --quiet SHA256SUMS) && echo "release: every file verifies against SHA256SUMS"
}
