#!/usr/bin/env bash
# Runs a Windows test program under Wine on an X server of its own (Xvfb,
# display number chosen by Xvfb), for suites that create real windows.
# Exits 77 (skipped) when Xvfb is missing.
#
# Usage: run_on_display.sh PROGRAM.exe [ARGS...]
set -euo pipefail
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed" >&2; exit 77; }
E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumidex-display.XXXXXX")
source "$(dirname "$0")/../e2e/lib.sh"
trap 'e2e_cleanup; rm -rf "$E2E_WORK"' EXIT
e2e_start_display
wine "$@"
