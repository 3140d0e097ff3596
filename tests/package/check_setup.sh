#!/usr/bin/env bash
# Usage: tests/package/check_setup.sh SETUP_EXE
# The installer's own manifest, as the loader reads it from the exe: it asks for no
# administrator rights, and says the installer draws at the monitor's scale, so that at 150 %
# Windows does not stretch its pages into a blur.
set -euo pipefail
setup=$1
fail() { echo "check_setup: $*" >&2; exit 1; }
[[ -f "$setup" ]] || fail "no installer at $setup"

# The manifest is a plain-text resource of the installer's stub, never compressed.
manifest=$(grep -aoz '<assembly.*</assembly>' "$setup" | tr -d '\0') ||
    fail "no manifest in $setup"
grep -q 'level="asInvoker"' <<<"$manifest" || fail "the manifest asks for more than the user's rights"
grep -qE '<dpiAware[^>]*>[[:space:]]*true[[:space:]]*</dpiAware>' <<<"$manifest" ||
    fail "the manifest does not say the installer is DPI-aware: $manifest"
echo "check_setup: the installer runs as the user, DPI-aware"
