#!/bin/sh
# Runs a command with openbox managing the X display that xvfb-run has set up, as a desktop
# would: maximising, frames and close requests come from a real window manager.
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
"$@"
status=$?
kill "$wm" 2>/dev/null
exit $status
