#!/usr/bin/env bash
# Runs one test program with an X display, which libobs needs to start on Linux: the
# caller's display when set, otherwise a private Xvfb that ends with the program.
set -uo pipefail
. "$(dirname "$0")/../scripts/lib/obs-session.sh"
if [ -z "${DISPLAY:-}" ]; then
  n=$(obs_session_free_display) || { echo "error: no free X display number" >&2; exit 1; }
  Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  [ -e "/tmp/.X11-unix/X$n" ] || { echo "error: Xvfb did not start on :$n" >&2; exit 1; }
  export DISPLAY=":$n"
fi
export LIBGL_ALWAYS_SOFTWARE=1
"$@"
