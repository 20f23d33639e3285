#!/bin/sh
# Runs the end-to-end delivery test (send-e2e.mjs) against the local SES emulator pinned
# in package.json. Usage: run-e2e.sh PATH/TO/brisko-cli
# Exits 77 (CTest: skipped) when Node.js or npm is not installed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  echo "SKIP: the end-to-end delivery test needs Node.js and npm (Debian packages nodejs and npm)"
  exit 77
fi
if [ ! -d "$here/node_modules/aws-ses-v2-local" ]; then
  echo "installing the SES emulator (npm ci in tests/e2e)"
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
fi
exec node "$here/send-e2e.mjs" "$1"
