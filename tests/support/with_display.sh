#!/bin/sh
# Runs a command that opens windows: on the X display already set up (wine's
# desktop process must share it), or else on a private virtual one.
if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi
exec xvfb-run -a "$@"
