# The page: built with emscripten, tested under node and in three browsers.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# The web build: GoogleTest for emscripten once (Debian has only its sources),
# the desktop's icon tool and reference pictures, the page, its tests.
web() {
  echo "== web"
  export NODE_PATH=/usr/share/nodejs  # emscripten's own tools need acorn from there
  # Debian's emscripten on Debian's Python, not whatever python3 the PATH
  # finds first: a version manager's shim there cost each compile 0.2 s.
  export EMSDK_PYTHON=/usr/bin/python3
  # (In the test command the release build is done, and its tests may be
  # running beside this: leave it alone.)
  [ -n "${release_built:-}" ] || build release --target chain-icon web-reference
  if [ ! -f build/gtest-web/lib/cmake/GTest/GTestConfig.cmake ]; then
    emcmake cmake -S /usr/src/googletest -B build/gtest-web-build -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE="-O0 -DNDEBUG" \
      -DCMAKE_INSTALL_PREFIX="$PWD/build/gtest-web" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=ON \
      -DCMAKE_CXX_FLAGS=-fwasm-exceptions >/dev/null
    cmake --build build/gtest-web-build -j "$(nproc)" >/dev/null
    cmake --install build/gtest-web-build >/dev/null
  fi
  build web
  ctest --preset web -j "$(nproc)"
  mkdir -p build/web/reference
  for scale in 1 2; do build/release/tests/web-reference "$scale" "build/web/reference/ref-$scale.rgba"; done
  build/release/tests/web-reference script >build/web/reference/script.txt
  (cd tests/web && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
  # What a visitor downloads for the first picture (64 KB at most) and what
  # the zip holds are ctest tests, page.module and page.zip; the icon, the
  # manifest and the worker come after the first picture.
  local later
  later=$(cd build/web && cat sw.js manifest.webmanifest icon.png | wc -c)
  echo "web: $later bytes after the first picture; $(ls build/web/*.zip)"
  # Chromium, Firefox and WebKit side by side, two files at a time in
  # Chromium and in Firefox: their tests mostly wait for chains to come to rest.
  export CHAIN_WEB=build/web CHAIN_WEB_REFERENCE=build/web/reference
  local page=(tests/web/chain.test.mjs tests/web/screens.test.mjs) status=0
  CHAIN_BROWSER=firefox node --test --test-concurrency=2 "${page[@]}" >build/web/firefox.log 2>&1 &
  local firefox=$!
  bash tests/support/with_xvfb.sh -screen 0 1280x1024x24 -- node --test tests/web/webkit.test.mjs \
    >build/web/webkit.log 2>&1 &
  local webkit=$!
  node --test --test-concurrency=2 "${page[@]}" tests/web/npm.test.mjs || status=1
  engine_result firefox "$firefox" || status=1
  engine_result webkit "$webkit" || status=1
  return "$status"
}

# One engine's run in the background: its figures, and its failures in full.
engine_result() {
  local status=0
  wait "$2" || { status=1; echo "web: $1 failed (build/web/$1.log):"; grep -B2 -A12 '^not ok' "build/web/$1.log"; }
  grep -E '^# (pass|fail) ' "build/web/$1.log" | sed "s/^/$1: /" || true
  return "$status"
}
