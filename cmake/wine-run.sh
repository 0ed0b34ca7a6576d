#!/bin/sh
# Runs a Windows program under Wine, quietly. The Wine prefix is the
# caller's WINEPREFIX, or the user's own.
for wine in /usr/lib/wine/wine64 "$(command -v wine64)" "$(command -v wine)"; do
  [ -n "$wine" ] && [ -x "$wine" ] && break
done
[ -x "$wine" ] || { echo "wine64 not found" >&2; exit 127; }
export WINEDEBUG=-all
# No offer to install Mono or Gecko into a new prefix: nothing here uses them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "$wine" "$@"
