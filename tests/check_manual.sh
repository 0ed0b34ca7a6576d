#!/bin/sh
# The manual page must format without a single warning from groff, nor from
# man when it is installed.
set -u
page=$1
if ! command -v groff >/dev/null 2>&1; then
  echo "groff is needed to check the manual page (Debian: apt-get install groff-base)"
  exit 1
fi
status=0
warnings=$(groff -ww -man -z -Tutf8 "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  printf 'groff -ww -man -z:\n%s\n' "$warnings"
  status=1
fi
if command -v man >/dev/null 2>&1; then
  warnings=$(MANWIDTH=80 man --warnings=w -E UTF-8 -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    printf 'man --warnings:\n%s\n' "$warnings"
    status=1
  fi
fi
exit $status
