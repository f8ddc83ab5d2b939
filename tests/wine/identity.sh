#!/usr/bin/env bash
# The real DLL under Wine: installed under twain_32, loaded by a program of
# our own, asked for its identity with a null origin (as Wine's Source Manager
# asks) and for its status. Needs the win build (scripts/build.sh win).
set -euo pipefail
cd "$(dirname "$0")/../.."
for built in build/win/Tq3480P.ds build/win/identity_check.exe; do
    [ -f "$built" ] || { echo "FAIL: $built is missing (bash scripts/build.sh win)"; exit 1; }
done

source scripts/wine_prefix.sh
wine_require_machine
wine_prefix_create
installed=$(wine_install_source build/win/Tq3480P.ds)
answer="$WINE_RUN_DIR/answer.txt"
status=0
timeout 1200 wine "$(wine_path build/win/identity_check.exe)" "$installed" \
    >"$answer.raw" 2>"$WINE_RUN_DIR/wine.log" || status=$?
tr -d '\r' <"$answer.raw" >"$answer"

failed=0
expect() {
    if grep -qxF -- "$1" "$answer"; then
        echo "ok: $1"
    else
        echo "FAIL: expected the line '$1'"
        failed=1
    fi
}
if [ "$status" -ne 0 ]; then
    echo "FAIL: identity_check exited with $status"
    failed=1
fi
expect "identity.rc=0"
expect "Id=0"
expect "Version=1.6"
expect "Language=13"
expect "Country=1"
expect "Info=[Version 1.00 Sep. 4, 2007]"
expect "Protocol=1.9"
expect "SupportedGroups=3"
expect "Manufacturer=[ ]"
expect "ProductFamily=[Velmora Oskaro Tq3480 PCL]"
expect "ProductName=[Velmora Oskaro Tq3480 PCL]"
expect "status.rc=0"
expect "ConditionCode=0"
expect "Reserved=0"
if [ "$failed" -ne 0 ]; then
    echo "-- answer:"; cat "$answer"
    echo "-- wine log:"; cat "$WINE_RUN_DIR/wine.log"
    exit 1
fi
echo "identity check passed"
