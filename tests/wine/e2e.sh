#!/usr/bin/env bash
# End to end: the real Tq3480P.ds under Wine's own Source Manager, driven by
# tools/win32/twain_app.exe, scanning from the scanner simulator. Every
# transfer mechanism delivers the same page; a jammed scanner shows its box
# and the open fails.
set -uo pipefail
cd "$(dirname "$0")/../.."

passed=0
failed=0
check() { # DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then
        passed=$((passed + 1)); echo "  ok   $description"
    else
        failed=$((failed + 1)); echo "  FAIL $description"
    fi
}
has() { grep -qF -- "$2" "$1" 2>/dev/null; }
page_field() { sed -n "s/^PAGE .* $2=\([^ ]*\).*/\1/p" "$1" | head -1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/tq3480p-e2e.XXXXXX")
run() { # NAME [e2e_scan options] -- [twain_app options]
    local name=$1
    shift
    local status=0
    bash scripts/e2e_scan.sh --out "$root/$name" "$@" >"$root/$name.out" 2>&1 || status=$?
    if [ "$status" = 77 ]; then
        echo "SKIP: Wine cannot run 32-bit programs here"
        exit 77
    fi
    return "$status"
}

start=$(date +%s)
run native -- --xfer native --out page.bmp
check "native transfer delivers a page" test -f "$root/native/page.bmp"
run memory -- --xfer memory --mem app-pointer --out page.bmp
check "memory transfer (application buffers) delivers a page" test -f "$root/memory/page.bmp"
run memory-ds -- --xfer memory --mem ds-handle --out page.bmp
check "memory transfer (source's buffer) delivers a page" test -f "$root/memory-ds/page.bmp"
run file -- --xfer file --file-name page.bmp
check "file transfer writes the BMP file" test -f "$root/file/page.bmp"
for mechanism in memory memory-ds file; do
    check "$mechanism page equals the native page byte for byte" \
        cmp -s "$root/native/page.bmp" "$root/$mechanism/page.bmp"
done
check "A4 at 300 dpi is 2480 x 3507" \
    test "$(page_field "$root/native/twain_app.log" width)x$(page_field "$root/native/twain_app.log" height)" = 2480x3507
check "no protocol errors on the wire" test ! -s "$root/native/protocol_errors.txt"

run letter150 -- --xfer native --out page.bmp --set ICAP_SUPPORTEDSIZES=3 --set ICAP_XRESOLUTION=150
check "Letter at 150 dpi is 1275 x 1647" \
    test "$(page_field "$root/letter150/twain_app.log" width)x$(page_field "$root/letter150/twain_app.log" height)" = 1275x1647

run jam --scenario "scanner=0 0.status=1" -- --xfer native
check "a jammed scanner shows \"Document JAM on machine\"" \
    has "$root/jam/twain_app.log" 'text="Document JAM on machine"'
check "the jam box has the caption \"Velmora Oskaro Tq3480 PCL\"" \
    has "$root/jam/twain_app.log" 'caption="Velmora Oskaro Tq3480 PCL"'
check "the open fails" grep -q 'DAT_IDENTITY/MSG_OPENDS.*rc=TWRC_FAILURE' "$root/jam/twain_app.log"

run absent --scenario "device=0:0x1234" -- --xfer native
check "no scanner: the open fails without a box" \
    sh -c "grep -q 'DAT_IDENTITY/MSG_OPENDS.*rc=TWRC_FAILURE' '$root/absent/twain_app.log' && ! grep -q '^MSGBOX ' '$root/absent/twain_app.log'"

echo "end-to-end part took $(($(date +%s) - start)) s; logs in $root"
echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
