#!/bin/sh
# Runs a Python test script. Without python3 the test is skipped (77) on a
# developer's machine but fails in CI, which must run it.
if command -v python3 >/dev/null 2>&1; then exec python3 "$@"; fi
echo "python3 not found"
[ "${CI:-}" = true ] && exit 1
exit 77
