# SPDX-License-Identifier: MIT
# Sourced by the demo and benchmark scripts.
#   namreg_build <source dir> <build dir> <target>...
# Configures the build directory when it has never been (the release preset
# for build/release, otherwise a MinSizeRel build with the -D options in the
# NAMREG_CONFIGURE_ARGS array), then builds the targets: nothing happens
# when nothing changed, and changed sources are rebuilt.  The compiler's
# output is shown when a step fails.
namreg_build() {
  local src=$1 build=$2
  shift 2
  local log rc=0
  log=$(mktemp)
  if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "== configuring $build"
    if [ "$build" = "$src/build/release" ]; then
      (cd "$src" && cmake --preset release) >"$log" 2>&1 || rc=$?
    else
      cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DNAMREG_WERROR=ON \
        "${NAMREG_CONFIGURE_ARGS[@]}" >"$log" 2>&1 || rc=$?
    fi
    if [ "$rc" != 0 ]; then
      echo "== configuring $build failed:" >&2
      cat "$log" >&2
      rm -f "$log"
      return 1
    fi
  fi
  echo "== building $* in $build (only what changed)"
  if ! cmake --build "$build" --target "$@" -j2 >"$log" 2>&1; then
    echo "== the build failed; the compiler's output:" >&2
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# What a syslog priority of namreg's lines means.
namreg_priority_words() {
  case $1 in
    1) echo "alert: the command line was refused or the client could not start" ;;
    2) echo "critical: the operation succeeded" ;;
    4) echo "warning: anything but plain success (a failure, or with -c a name already taken)" ;;
    *) echo "priority $1" ;;
  esac
}

# What namreg's exit status means for an operation (register, request-key or
# check).
namreg_status_words() {
  local op=$1 status=$2
  if [ "$op" = check ]; then
    case $status in
      0) echo "the host name is free" ;;
      1) echo "the host name is used by another camera (or the command line was refused)" ;;
      2) echo "the host name is this camera's" ;;
      3) echo "the check failed" ;;
      *) echo "unexpected" ;;
    esac
    return
  fi
  case $status in
    0) echo "success" ;;
    1) echo "refused command line or start-up failure" ;;
    5) echo "invalid server name" ;;
    6) echo "invalid arguments" ;;
    8) echo "registered or changed within the last ten minutes" ;;
    9) echo "invalid MAC" ;;
    10) echo "the host name is already in use" ;;
    12) echo "invalid host name or e-mail" ;;
    16) echo "network error" ;;
    27) echo "unknown server error" ;;
    *) echo "failure, the low 8 bits of result code $status" ;;
  esac
}

# Rewrites syslog-tap's "priority N: text" lines as "text (priority N, words)".
namreg_explain_syslog() {
  local line prio text
  while IFS= read -r line; do
    if [[ $line =~ ^priority\ ([0-9]+):\ (.*)$ ]]; then
      prio=${BASH_REMATCH[1]} text=${BASH_REMATCH[2]}
      echo "$text  <- priority $prio, $(namreg_priority_words "$prio")"
    else
      echo "$line"
    fi
  done
}
