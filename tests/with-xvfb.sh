#!/usr/bin/env bash
# Runs one test program with an X display, which libobs needs to start on Linux: the
# caller's display when set, otherwise a private Xvfb that ends with the program.
set -uo pipefail
. "$(dirname "$0")/../scripts/lib/obs-session.sh"
if [ -z "${DISPLAY:-}" ]; then
  work=$(mktemp -d /tmp/corvane-xvfb.XXXXXX)
  trap '[ -n "${OBS_SESSION_XVFB_PID:-}" ] && kill "$OBS_SESSION_XVFB_PID" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
  OBS_SESSION_SCREEN=1280x720 obs_session_display "$work" || exit 1
fi
export LIBGL_ALWAYS_SOFTWARE=1
"$@"
