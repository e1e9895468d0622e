# What every recipe uses: the version, a preset's build and tests, figures.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# The version users see, from CMakeLists.txt (where alone it is written).
version() { cmake -P cmake/version.cmake; }

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)" "${@:2}"
}

# One preset's build and its whole test suite.
suite() {
  echo "== $1"
  build "$1"
  ctest --preset "$1" -j "$(nproc)"
}

# Runs one benchmark, shows what it prints and keeps it in
# docs/figures/NAME.txt, headed by the day, the machine and the command, for
# the docs to cite: a figure there is what the benchmark last printed.
figures() {
  local file=docs/figures/$1.txt
  shift
  mkdir -p docs/figures
  {
    echo "# $(date -u +%F) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'): $*"
    "$@"
  } | tee "$file.new"
  mv "$file.new" "$file"
}
