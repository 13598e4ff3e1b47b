#!/usr/bin/env bash
# Runs a command with a display: the one in DISPLAY, or a private Xvfb
# started for it (the command then finds none and skips when Xvfb is
# missing). Usage: with_xvfb.sh COMMAND...
set -u
if [ -n "${DISPLAY:-}" ] || ! command -v Xvfb >/dev/null 2>&1; then
    exec "$@"
fi
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 320x320x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.05
done
status=1
if [ -s "$dir/display" ]; then
    DISPLAY=":$(cat "$dir/display")" "$@"
    status=$?
else
    echo "Xvfb did not start:"; cat "$dir/log"
fi
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
rm -rf "$dir"
exit $status
