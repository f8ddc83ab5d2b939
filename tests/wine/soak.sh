#!/usr/bin/env bash
# The fault soak of the real DLL under Wine (scripts/soak.sh) with its
# defaults: 210 pages in one process through the three transfer mechanisms,
# a fault in every fifth, each page checked; its figures are printed.
set -uo pipefail
cd "$(dirname "$0")/../.."
status=0
bash scripts/soak.sh || status=$?
if [ "$status" = 77 ]; then
    echo "SKIP: Wine cannot run 32-bit programs here"
    [ "${TQ_REQUIRE_WINE:-0}" = 1 ] && exit 1
fi
exit "$status"
