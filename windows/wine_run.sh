#!/bin/sh
# Runs a Windows program of the build under Wine, as a test's command, with a watchdog: a program
# still running after MV_WINE_TIMEOUT seconds (default 300) is ended and the run fails, naming
# the last box, menu or chooser the platform put on the screen (which nobody answered).
# Environment: MV_WINE (wine or wine64), WINEPREFIX and DISPLAY, from run_tests.sh.
wine=${MV_WINE:-wine}
limit=${MV_WINE_TIMEOUT:-300}
log=$(mktemp "${TMPDIR:-/tmp}/mv-ui-log.XXXXXX")
MVP_UI_LOG=$log WINEDEBUG=${WINEDEBUG:--all} timeout -k 10 "$limit" "$wine" "$@"
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  if [ -s "$log" ]; then
    # printf, not echo: dash's echo would turn the box's \n back into a line break.
    printf 'watchdog: %s was ended after %s s; unanswered on the screen: %s\n' "$1" "$limit" "$(tail -n 1 "$log")" >&2
  else
    echo "watchdog: $1 was ended after ${limit} s (no box of the platform was on the screen)" >&2
  fi
  status=1
fi
rm -f "$log"
exit $status
