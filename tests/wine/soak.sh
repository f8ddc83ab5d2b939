#!/usr/bin/env bash
# The fault soak of the real DLL under Wine (scripts/soak.sh) with its
# defaults: 210 pages in one process through the three transfer mechanisms,
# a fault in every fifth, each page checked; its figures are printed.
set -uo pipefail
cd "$(dirname "$0")/../.."
exec bash scripts/soak.sh
