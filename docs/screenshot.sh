#!/bin/sh
# Remakes docs/example-page.png: the page that examples/contacts.csv becomes,
# as a browser shows it (headless Chromium).
#
# Usage: docs/screenshot.sh [TOOL]
#   TOOL defaults to build/release/quillantrex (made by the README's first
#   command). Needs chromium (Debian: apt-get install chromium).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/release/quillantrex}
browser=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
[ -n "$browser" ] || { echo "chromium not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/site" "$work/profile"
(cd "$work/site" && "$tool" "$root/examples/contacts.csv" >/dev/null)

# The page declares no character set; its bytes are Windows-1252, which is
# what Chromium assumes for a page without one in a Western European locale.
# --no-sandbox is needed when running as root.
"$browser" --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
  --lang=fr-FR --user-data-dir="$work/profile" --window-size=1200,680 \
  --screenshot="$root/docs/example-page.png" "file://$work/site/carnet.htm" 2>/dev/null
echo "wrote docs/example-page.png"
