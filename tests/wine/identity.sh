#!/usr/bin/env bash
# The real DLL under Wine: installed under twain_32, loaded by a program of
# our own, asked for its identity with a null origin (as Wine's Source Manager
# asks) and for its status. Needs the win build (scripts/build.sh win).
set -euo pipefail
cd "$(dirname "$0")/../.."
for built in build/win/Tq3480P.ds build/win/identity_check.exe; do
    [ -f "$built" ] || { echo "FAIL: $built is missing (bash scripts/build.sh win)"; exit 1; }
done

source scripts/wine_env.sh
if ! wine_env_enable_i386; then
    echo "SKIP: this machine runs no 32-bit x86 programs (no IA32 emulation in the kernel," \
        "no qemu-user for i386); Wine cannot run Tq3480P.ds here"
    [ "${TQ_REQUIRE_WINE:-0}" = 1 ] && exit 1
    exit 77
fi
wine_env_setup
trap wine_env_cleanup EXIT
wine_env_install_source build/win/Tq3480P.ds
installed='C:\windows\twain_32\Tq3480P\Tq3480P.ds'
answer="$WINE_ENV_RUN/answer.txt"
status=0
wine_env_run --timeout 1200 identity "$(realpath build/win/identity_check.exe)" "$installed" ||
    status=$?
cp "$WINE_ENV_RUN/identity.out" "$answer.raw"
cp "$WINE_ENV_RUN/identity.err" "$WINE_ENV_RUN/wine.log"
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
    echo "-- wine log:"; cat "$WINE_ENV_RUN/wine.log"
    exit 1
fi
echo "identity check passed"
