#!/bin/sh
# Runs a Windows program under Wine, quietly. The Wine prefix is the
# caller's WINEPREFIX, or the user's own.
for wine in /usr/lib/wine/wine64 "$(command -v wine64)" "$(command -v wine)"; do
  [ -n "$wine" ] && [ -x "$wine" ] && break
done
[ -x "$wine" ] || { echo "wine64 not found" >&2; exit 127; }
export WINEDEBUG=-all
exec "$wine" "$@"
