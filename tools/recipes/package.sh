# The Debian package for this machine.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# Builds the Debian package, or takes the one given (the release's), and
# checks it; installs it only in CI (or with CHAIN_INSTALL_PACKAGE=1), and
# otherwise runs it from an unpacked copy.
package() {
  echo "== package"
  local deb=${1:-build/package/chain_$(version)_amd64.deb}
  if [ -z "${1:-}" ]; then
    build package
    cpack --preset deb
  fi
  lintian --allow-root --fail-on error "$deb"
  echo "lintian: no errors"
  local version
  if [ -n "${CI:-}" ] || [ -n "${CHAIN_INSTALL_PACKAGE:-}" ]; then
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --reinstall "./$deb"
    version=$(chain --version)
    echo "installed: $(command -v chain) --version says $version"
  else
    local unpacked
    unpacked=$(mktemp -d)
    dpkg-deb -x "$deb" "$unpacked"
    version=$("$unpacked/usr/bin/chain" --version)
    rm -rf "$unpacked"
    echo "unpacked: usr/bin/chain --version says $version"
  fi
  [ "$version" = "$(version)" ] || { echo "package: wrong version '$version'"; exit 1; }
  echo "package: 2 passed, 0 failed"
}
