#!/usr/bin/env bash
# The main job: builds Tq3480P.ds and scans one page through it, end to end:
# Wine's own TWAIN_32.DLL loads the real DLL for tools/win32/twain_app.exe,
# and the DLL talks through the usbscan relay to the scanner simulator.
# Writes page.bmp and page.png (the same pixels, tools/host/page_png) into the
# current directory and checks page.bmp against the page the simulator's
# model gives (tools/host/expected_page).
#
#   scripts/scan.sh [--paper a3|b4|a4|b5|a5|ledger|legal|letter]
#                   [--resolution 150|300|600] [--xfer native|memory|file]
#
# Defaults: an A4 upright page at 300 dpi, native transfer.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."

paper=a4
resolution=300
xfer=native
while [ $# -gt 0 ]; do
    case "$1" in
    --paper) paper=$2; shift 2 ;;
    --resolution) resolution=$2; shift 2 ;;
    --xfer) xfer=$2; shift 2 ;;
    *) echo "usage: scripts/scan.sh [--paper NAME] [--resolution DPI] [--xfer native|memory|file]" >&2
       exit 2 ;;
    esac
done
case "$paper" in # the ICAP_SUPPORTEDSIZES code of each upright paper, and its paper index
a3) size=11 index=0 ;; b4) size=6 index=1 ;; a4) size=1 index=2 ;; b5) size=2 index=3 ;;
a5) size=5 index=4 ;; ledger) size=9 index=9 ;; legal) size=4 index=11 ;; letter) size=3 index=12 ;;
*) echo "scan: unknown paper $paper" >&2; exit 2 ;;
esac
case "$resolution" in 150 | 300 | 600) ;; *) echo "scan: resolution 150, 300 or 600" >&2; exit 2 ;; esac
case "$xfer" in native | memory | file) ;; *) echo "scan: xfer native, memory or file" >&2; exit 2 ;; esac

bash scripts/setup.sh >/dev/null
bash scripts/build.sh win gcc-tools >/dev/null
echo "built build/win/Tq3480P.ds"

out=$(mktemp -d "${TMPDIR:-/tmp}/tq3480p-scan.XXXXXX")
app=(--xfer "$xfer" --out page.bmp
     --set ICAP_SUPPORTEDSIZES="$size" --set ICAP_XRESOLUTION="$resolution")
[ "$xfer" = memory ] && app+=(--mem app-pointer)
[ "$xfer" = file ] && app+=(--file-name page.bmp)
status=0
bash scripts/e2e_scan.sh --out "$out" -- "${app[@]}" >"$out/e2e.out" 2>&1 || status=$?
if [ "$status" -ne 0 ] || [ ! -f "$out/page.bmp" ]; then
    cat "$out/e2e.out" >&2
    echo "scan: failed (status $status); logs in $out" >&2
    exit 1
fi
cp "$out/page.bmp" "$here/page.bmp"
build/gcc/page_png "$here/page.bmp" "$here/page.png"
line=$(grep -m1 '^PAGE ' "$out/twain_app.log" || true)
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$line"; }
echo "scanned: paper $paper, $resolution dpi, $xfer transfer: $(field width) x $(field height) pixels, 1 bit per pixel"
echo "wrote $here/page.bmp ($(stat -c %s "$here/page.bmp") bytes) and $here/page.png"
# The simulated scanner's first page, as computed on the host from its model.
build/gcc/expected_page --paper "$index" --dpi "$resolution" --page 1 --out "$out/expected.bmp" >/dev/null
if cmp -s "$out/expected.bmp" "$here/page.bmp"; then
    echo "page.bmp is the simulated scanner's page, every pixel and header byte (page.png shows the same pixels)"
else
    echo "scan: page.bmp differs from the simulated scanner's page ($out/expected.bmp)" >&2
    exit 1
fi
echo "application log and scanner transcript in $out"
