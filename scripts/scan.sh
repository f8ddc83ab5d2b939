#!/usr/bin/env bash
# The main job: builds Tq3480P.ds, installs it under Wine as an installation
# does (C:\windows\twain_32\Tq3480P\Tq3480P.ds) and drives it from a Win32
# program of our own: the identity a Source Manager asks for, and the status.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh win
echo "Tq3480P.ds built: build/win/Tq3480P.ds"

source scripts/wine_prefix.sh
TQ_REQUIRE_WINE=1 wine_require_machine
wine_prefix_create
installed=$(wine_install_source build/win/Tq3480P.ds)
status=0
timeout 1200 wine "$(wine_path build/win/identity_check.exe)" "$installed" \
    >"$WINE_RUN_DIR/answer.txt" 2>"$WINE_RUN_DIR/wine.log" || status=$?
echo "== DS_Entry answers ($installed)"
tr -d '\r' <"$WINE_RUN_DIR/answer.txt"
if [ "$status" -ne 0 ]; then
    echo "identity_check failed with status $status" >&2
    cat "$WINE_RUN_DIR/wine.log" >&2
fi
exit "$status"
