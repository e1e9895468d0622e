# Windows: the MinGW cross-build, its tests under Wine on a private X server.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# Starts a private Xvfb with a window manager (Wine's windows need one to
# close promptly) and a wineserver that stays up between the tests.
windows_session() {
  export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local display
  read -r -t 120 display <"$fifo" || { echo "dev: Xvfb did not start"; exit 1; }
  rm -f "$fifo"
  export DISPLAY=:$display
  openbox >/dev/null 2>&1 &
  openbox_pid=$!
  cleanups+=('wineserver -k 2>/dev/null || true; kill $openbox_pid $xvfb_pid 2>/dev/null || true')
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "dev: making the Wine prefix (about 15 s the first time)"
    wine wineboot --init >/dev/null 2>&1
  fi
  wineserver -w
  wineserver -p  # stays up between programs: each starts in a fraction of a second
  # Wine's own services start with the first program and inherit its output:
  # start them now, so that no test's output stays open after it ends (they
  # get the helper's files, not ours). Loaded, Wine can fail to start this
  # first program as it can any (status 1, nothing said): once more then.
  bash tests/support/wine_once_more.sh wine cmd /c exit </dev/null >/dev/null
  xdotool mousemove 1279 1023  # the pointer away from where windows appear
}

windows_toolchain() {
  # Debian has no MinGW build of GoogleTest: build its sources once,
  # unoptimised (as for the other CPUs; see CMakeLists.txt).
  if [ ! -f build/gtest-mingw/lib/cmake/GTest/GTestConfig.cmake ]; then
    cmake -S /usr/src/googletest -B build/gtest-mingw-build -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE="-O0 -DNDEBUG" \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-w64.cmake" -DCMAKE_INSTALL_PREFIX="$PWD/build/gtest-mingw" \
      -DBUILD_GMOCK=OFF >/dev/null
    cmake --build build/gtest-mingw-build -j "$(nproc)" >/dev/null
    cmake --install build/gtest-mingw-build >/dev/null
  fi
}

windows() {
  echo "== windows"
  windows_toolchain
  windows_session
  build windows
  # Wine's desktop ends a second after its last program, and a program that
  # starts just then finds none: hold it up until the session ends.
  wine build/windows/tests/wine_desktop.exe </dev/null >/dev/null 2>&1 &
  ctest --preset windows -j "$(nproc)"
  # End to end: the real chain.exe under Wine on the X server, through the
  # same driver as the Linux program's.
  [ -x build/release/tests/e2e_x11 ] || build release --target e2e_x11
  local e2e=(build/release/tests/e2e_x11 --idle --screenshot build/windows/screenshot.png --
    wine build/windows/app/chain.exe)
  if ! "${e2e[@]}" 2>&1 | tee build/windows/e2e.log; then
    # Wine itself dying of a Linux signal before any window (status 139, once
    # in a loaded CI run) is Wine's failure, not chain.exe's, whose own
    # crash Wine reports as an exception code: said, and tried once more.
    grep -Eq "ended before showing its window, status (129|1[3-5][0-9])" build/windows/e2e.log || return 1
    echo "windows: Wine died of a signal before the window showed; once more"
    "${e2e[@]}"
  fi
  local size
  size=$(stat -c %s build/windows/packaging/windows/zip/chain-*/chain.exe)
  echo "windows: chain.exe $size bytes stripped (ctest windows.exe-size holds it to 1 MB);" \
    "$(ls build/windows/*.zip build/windows/*-setup.exe | tr '\n' ' ')"
}
