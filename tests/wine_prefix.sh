#!/bin/sh
# Makes the Wine prefix the Windows tests run in: wine_prefix.sh WINE WINESERVER
# (WINEPREFIX and WINEDEBUG come from the environment).
#
# A prefix's first start now and then fails to find Wine's own programs in it
# ("ShellExecuteEx failed") and leaves it unusable. So the prefix counts as
# made only once cmd.exe answers in it; otherwise it is removed and made
# again, three times at most.
wine=$1
wineserver=$2
for attempt in 1 2 3; do
  if WINEDLLOVERRIDES=mscoree,mshtml= "$wine" wineboot --init &&
    [ "$("$wine" cmd /c echo ready)" = "$(printf 'ready\r')" ]; then
    echo "Wine prefix ready after $attempt attempt(s): $WINEPREFIX"
    exit 0
  fi
  echo "Wine prefix not usable after attempt $attempt; making it again" >&2
  "$wineserver" -k 2>/dev/null
  "$wineserver" --wait 2>/dev/null
  rm -rf "$WINEPREFIX"
done
exit 1
