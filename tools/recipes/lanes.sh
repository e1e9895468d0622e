# The test command's two lanes and its table of stages.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# What runs at exit, last first (a Wine session's servers), and the test
# command's table of stages: a line a stage in $stages, named by its start so
# that the table keeps their order across the two lanes, saying FAILED until
# it passes.
cleanups=()
stages=
lane_pid=
lane_log=
on_exit() {
  local status=$? i
  for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do eval "${cleanups[i]}"; done
  if [ "$BASH_SUBSHELL" -ne 0 ]; then  # a lane: the main shell reports
    [ -z "$stages" ] || { cpu_seconds all && echo "$cpu_now" >"$stages/.lane-cpu"; }
    return "$status"
  fi
  if [ -n "$lane_pid" ]; then  # this lane failed first: stop the other
    pkill -TERM -P "$lane_pid" 2>/dev/null || true
    wait "$lane_pid" 2>/dev/null || true
    # Only its end here, so that the failure above stays in the last lines
    # a CI log keeps; the whole of it in build/.
    mkdir -p build
    cp "$lane_log" build/second-lane.log
    echo "== the second lane's output, to where it was stopped: its last lines" \
      "(all of it in build/second-lane.log)"
    tail -n 15 "$lane_log"
  fi
  [ -n "$stages" ] || return "$status"
  echo
  echo "== summary"
  cat "$stages"/*
  echo "total: $((SECONDS / 60)) min $((SECONDS % 60)) s"
  rm -rf "$stages" "$lane_log"
  return "$status"
}
trap on_exit EXIT

# The first command that failed, with where it stands, on the error output
# and in its stage's line of the table: a command quiet on purpose (wineboot,
# a build's configure) then still says why the test command stopped.
on_error() {
  local status=$1 command=$2 where=$3
  [ -n "${line:-}" ] && grep -q ' FAILED$' "$line" 2>/dev/null || return 0
  if [ "$status" -eq 143 ]; then  # stopped, as the other lane failed
    printf '%-26s stopped\n' "$name" >"$line"
    return 0
  fi
  echo "dev: $command: status $status ($where)" >&2
  printf '%-26s FAILED: %s: status %d (%s)\n' "$name" "$command" "$status" "$where" >"$line"
}
trap 'on_error $? "$BASH_COMMAND" "${BASH_SOURCE[0]}:$LINENO"' ERR
set -E  # and in every function and subshell

# Processor seconds (user and system) of this shell's finished children, or
# with "all" its own too: the lanes share the machine's cores, so what a
# stage costs the test command is its processor time more than its length.
# Sets $cpu_now, in hundredths of a second; called, not substituted, as a
# subshell counts only its own children.
cpu_seconds() {
  local file=$stages/.times-$BASHPID  # a file each, as the lanes are two shells
  times >"$file"
  cpu_now=$(awk -v all="${1:-}" '(NR == 2 || all) {
    for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); sum += t[1] * 60 + t[2] } }
    END { printf "%d", sum * 100 }' "$file")
  # The second lane's time joins the main shell's once the lane is reaped,
  # whichever stage runs then: not that stage's.
  if [ -z "${1:-}" ] && [ -s "$stages/.lane-cpu" ] &&
    { [ -z "$lane_pid" ] || ! kill -0 "$lane_pid" 2>/dev/null; }; then
    cpu_now=$((cpu_now - $(<"$stages/.lane-cpu")))
  fi
}

# Runs one stage of the test command; a failure ends its lane (set -e) and
# the table names the stage, with its length and processor time.
stage() {
  local name=$1 start=$SECONDS line stage_cpu
  shift
  # The second lane over before the first: its output now, and a failure
  # there ends the test command here rather than after the first lane.
  if [ -n "$lane_pid" ] && ! kill -0 "$lane_pid" 2>/dev/null; then finish_lane; fi
  cpu_seconds
  stage_cpu=$cpu_now
  line=$stages/$(printf '%05d' "$start")-$name
  printf '%-26s FAILED\n' "$name" >"$line"
  "$@"
  cpu_seconds
  printf '%-26s passed %4d s, processor %4d s\n' "$name" $((SECONDS - start)) $(((cpu_now - stage_cpu + 50) / 100)) >"$line"
}

# Runs "$@" as a second lane beside the main one, its output kept until
# finish_lane shows it: two stages that wait on programs (a browser, Wine,
# qemu) fill each other's idle time.
start_lane() {
  lane_log=$(mktemp)
  (trap on_exit EXIT; "$@") >"$lane_log" 2>&1 &
  lane_pid=$!
}

finish_lane() {
  local status=0
  [ -n "$lane_pid" ] || return 0  # shown already
  wait "$lane_pid" || status=$?
  lane_pid=
  echo "== the second lane's output"
  cat "$lane_log"
  return "$status"
}

# The test command's second lane. The CPUs that catch the most faults the
# others would not (a 64-bit Arm with fused multiply-adds, 32-bit x86 and
# its x87 trap, big-endian IBM Z), clang, the page, the fuzzers, then the
# release's second build and its arm64 and armhf packages; Windows and the
# release's first build end the first lane, which keeps the two lanes about
# as long as each other, and the two builds are compared once both are
# done. gcc at -O0 is the asan build's; the debug preset would add only
# valgrind, which the release build runs on the program as shipped.
other_platforms() {
  stage "arm64, i386, s390x" cpus arm64 i386 s390x
  stage "clang-release" suite clang-release
  stage "web" web
  stage "fuzz" fuzz
  stage "release, again" release_again
  # The arm packages checked are the release's own.
  local cpu
  for cpu in $(usable_package_cpus); do
    stage "package for $cpu" cross_package "$cpu" "build/release-again/dist/chain_$(version)_$cpu.deb"
  done
  for cpu in "${unusable_cpus[@]}"; do
    printf '%-26s SKIPPED: its libraries could not be installed (see "install other CPUs'"'"' libs")\n' \
      "package for $cpu" >"$stages/$(printf '%05d' "$SECONDS")-package for $cpu"
  done
}

# Waits for install_multiarch run in the background (pid, log): what apt
# said, and the CPUs it left out, for the lanes to take.
multiarch_done() {
  local status=0
  wait "$1" || status=$?
  cat "$2"
  [ "$status" -eq 0 ] || { echo "dev: install_multiarch: status $status" >&2; return "$status"; }
  read -ra unusable_cpus <"$2.left-out"
  rm -f "$2" "$2.left-out"
}

# The whole test command: every configuration, two lanes side by side.
test_command() {
  stages=$(mktemp -d)
  stage "install" install "${run_packages[@]}" "${test_packages[@]}" "${windows_packages[@]}" \
    "${web_packages[@]}" "${cpu_packages[@]}"
  # The other CPUs' libraries, for the arm packages near the end, beside the
  # release build: apt waits on the network, the build on the processors.
  local multiarch_log
  multiarch_log=$(mktemp)
  (trap - ERR; install_multiarch; echo "${unusable_cpus[*]}" >"$multiarch_log.left-out") \
    >"$multiarch_log" 2>&1 &
  local multiarch_pid=$!
  cmake --preset release -DBUILD_TESTING=ON -DCHAIN_BUILD_BENCHMARKS=ON >/dev/null
  stage "release build" build release
  stage "install other CPUs' libs" multiarch_done "$multiarch_pid" "$multiarch_log"
  release_built=1
  # Once the release build (its tools) is there, the other CPUs, clang,
  # the page, the fuzzers and the arm packages go in a second lane.
  # The chain must come out bit-identical in each build; the sanitisers run
  # the end-to-end tests too.
  start_lane other_platforms
  stage "release" ctest --preset release -j "$(nproc)"
  stage "asan" suite asan
  stage "windows" windows
  stage "release" reproduced
  # The Debian package checked is the release's own.
  stage "package" package "dist/chain_$(version)_amd64.deb"
  finish_lane
  stage "release, compared" release_compared
}
