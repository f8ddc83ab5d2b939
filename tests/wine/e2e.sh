#!/usr/bin/env bash
# End to end: the real Tq3480P.ds under Wine's own Source Manager, driven by
# tools/win32/twain_app.exe, scanning from the scanner simulator through the
# usbscan relay. Checks what the application and the user see:
#   - every transfer mechanism delivers exactly the simulator's page (each
#     pixel, the DIB and BMP headers), compared with the page that
#     tools/host/expected_page computes from the simulator's page model, for
#     two papers at 150, 300 and 600 dpi;
#   - enabled with its user interface: the splash, then the settings dialog
#     with its texts and controls; Scan leads to MSG_XFERREADY and a transfer,
#     Close to MSG_CLOSEDSREQ; duplex on with an empty feeder shows its box;
#   - the settings file UAXXXX.ini holds the five values after close, and a
#     setting changed in the dialog or through a capability is there at the
#     next open;
#   - a jammed scanner shows its box and the open fails; no scanner fails the
#     open without a box.
# Under Xvfb it captures the splash, the settings dialog and the About box
# into build/e2e-artifacts/ (splash.png, settings.png, about.png), beside the
# logs of every run; the pages are removed once they passed.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine_env.sh

artifacts=$(pwd)/build/e2e-artifacts
expected_page=$WINE_ENV_HOST_BUILD/expected_page
section="Velmora Oskaro Tq3480 PCL"

for needed in "$WINE_ENV_BUILD/twain_app.exe" "$WINE_ENV_BUILD/Tq3480P.ds" \
    "$WINE_ENV_BUILD/usbscan_relay.sys" "$WINE_ENV_HOST_BUILD/scanner_server" "$expected_page" \
    "$WINE_ENV_HOST_BUILD/page_png"; do
    if [ ! -e "$needed" ]; then
        echo "e2e: $needed is missing: run scripts/build.sh win gcc first"
        exit 1
    fi
done
if ! wine_env_enable_i386; then
    echo "SKIP: Wine cannot run 32-bit programs here"
    [ "${TQ_REQUIRE_WINE:-0}" = 1 ] && exit 1
    exit 77
fi

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
matches() { grep -qE -- "$2" "$1" 2>/dev/null; }  # FILE ERE
lacks() { ! grep -qE -- "$2" "$1" 2>/dev/null; }  # FILE ERE
count_is() { [ "$(grep -cE -- "$2" "$1" 2>/dev/null)" = "$3" ]; } # FILE ERE N
all() { # COMMAND... separated by ";;": every one of them succeeds
    local part=() word
    for word in "$@" ";;"; do
        if [ "$word" = ";;" ]; then
            "${part[@]}" || return 1
            part=()
        else
            part+=("$word")
        fi
    done
}

rm -rf "$artifacts"
mkdir -p "$artifacts"

# ---- A Wine session: one prefix, one scanner server, several application runs.
session=
session_begin() { # NAME DISPLAY SCENARIO-WORD...
    session=$1
    local display=$2
    shift 2
    wine_env_setup --display "$display" || return 1
    trap wine_env_cleanup EXIT
    wine_env_start_server "$@" && wine_env_install_relay && wine_env_install_source &&
        wine_env_start_session
}
session_end() {
    wine_env_stop_session
    wine_env_stop_server
    local file
    for file in "$WINE_ENV_SERVER_LOG" "$WINE_ENV_TRANSCRIPT" "$WINE_ENV_PROTOCOL_ERRORS"; do
        [ -f "$file" ] && cp "$file" "$artifacts/$session-$(basename "$file")"
    done
    wine_env_cleanup
}

# app NAME [--shot TEXT FILE]... -- TWAIN_APP-OPTION...: one run of the
# application in $artifacts/NAME (where its pages land); its log is
# $artifacts/NAME/twain_app.log.
app() {
    local name=$1
    shift
    local dir=$artifacts/$name
    mkdir -p "$dir"
    while [ "$1" = --shot ]; do
        wine_env_capture_when "$2" "$WINE_ENV_RUN/$name.out" "$3"
        shift 3
    done
    [ "$1" = -- ] && shift
    local status=0
    # Generous limits: where 32-bit programs run through qemu everything is slower.
    (cd "$dir" && wine_env_run --timeout 900 "$name" "$WINE_ENV_BUILD/twain_app.exe" \
        --timeout 600 --ui-wait 60000 "$@") || status=$?
    wine_env_wait_captures
    tr -d '\r' <"$WINE_ENV_RUN/$name.out" >"$dir/twain_app.log"
    cp "$WINE_ENV_RUN/$name.err" "$dir/twain_app.err" 2>/dev/null
    return "$status"
}

# ---- Pages: the simulator numbers its scans from 1 since the server started;
# the page depends on that number, so the pages are checked in scan order.
scans=0
# page RUN FILE PAPER-INDEX DPI [keep]: the file the application kept (its BMP of a
# native DIB or of the memory strips, or the source's own file) is the
# simulator's page at that paper and resolution, byte for byte.
page() {
    local run=$1 file=$2 paper=$3 dpi=$4
    scans=$((scans + 1))
    local expected=$artifacts/$run/expected-$file geometry
    geometry=$("$expected_page" --paper "$paper" --dpi "$dpi" --page "$scans" --out "$expected")
    local description="$run: $file (paper $paper, $dpi dpi, scan $scans) is the simulator's page"
    page_ok=0
    if cmp -s "$expected" "$artifacts/$run/$file"; then
        check "$description, $geometry" true
        page_ok=1
        rm -f "$expected"
        [ "${5:-}" = keep ] || rm -f "$artifacts/$run/$file"
    else
        check "$description, $geometry (kept in $artifacts/$run)" false
    fi
    page_geometry=$geometry
}
field() { sed -n "s/.*\<$1=\([^ ]*\).*/\1/p" <<<"$2"; }
# imageinfo RUN N DPI: the Nth DAT_IMAGEINFO of the run announced the page
# just checked.
imageinfo() {
    local info
    info=$(grep '^IMAGEINFO ' "$artifacts/$1/twain_app.log" | sed -n "$2p")
    check "$1: DAT_IMAGEINFO $2 announced $(field width "$page_geometry") x $(field height "$page_geometry") at $3 dpi" \
        test "$(field width "$info")x$(field length "$info")/$(field xres "$info")/$(field yres "$info")" = \
        "$(field width "$page_geometry")x$(field height "$page_geometry")/$3/$3"
}

# The settings file of the prefix, as "KEY=VALUE" lines of its one section.
settings_file() {
    local temp
    temp=$(wine_env_temp_dir) && tr -d '\r' <"$temp/UAXXXX.ini"
}
settings_are() { # EXPECTED-TEXT
    local file
    file=$(settings_file 2>/dev/null)
    [ "$file" = "$1" ] || { echo "    UAXXXX.ini holds:"; sed 's/^/      /' <<<"$file"; return 1; }
}
settings_text() { # PAPER SCANTYPE RESOLUTION DUPLEX BRIGHTNESS
    printf '[%s]\nPaper Size=%s\nScan Type=%s\nResolution=%s\nDuplex Scanning=%s\nBrightness=%s' \
        "$section" "$@"
}

# A screenshot was made and the window in it is drawn: the window's rectangle
# (from the application's WINDOW line) is light with dark text in it.
drawn() { # PNG RECT
    local rect=$2 x y w h stats
    IFS=, read -r x y w h <<<"$rect"
    [ -s "$1" ] && [ -n "$h" ] || return 1
    stats=$(convert "$1" -crop "${w}x${h}+${x}+${y}" +repage -colorspace Gray \
        -format '%[fx:mean] %[fx:standard_deviation]' info: 2>/dev/null) || return 1
    awk -v s="$stats" 'BEGIN { split(s, v, " "); exit !(v[1] > 0.6 && v[2] > 0.05) }'
}
window_rect() { # LOG KIND
    sed -n "s/^WINDOW event=shown kind=$2 .* rect=\([^ ]*\) .*/\1/p" "$1" | head -1
}

start=$SECONDS

# ---- Session 1 (Xvfb): the user interface, every transfer mechanism, the settings file.
if ! session_begin ui xvfb scanner=0; then
    echo "FAIL: the Wine session could not be set up"
    exit 1
fi

# The dialog as a user meets it with no settings file: splash, settings
# dialog, About box; three scans at two papers and three resolutions; duplex
# on with an empty feeder; brightness moved to 1; Close.
run=ui-native
log=$artifacts/$run/twain_app.log
app $run --shot "kind=splash" "$artifacts/splash.png" \
    --shot "CONTROLS kind=settings" "$artifacts/settings.png" \
    --shot "kind=about" "$artifacts/about.png" -- \
    --ui --stay --xfer native --out 'page{n}.bmp' --about-delay 2000 --timestamps \
    --do state --do controls --do sleep:1500 --do about \
    --do scan \
    --do select:703=0 --do scan \
    --do select:701=12 --do select:703=2 --do scan \
    --do hscroll:1 \
    --do select:704=1 --do scan \
    --do select:704=0 --do close
check "$run: the application ends well" has "$log" "RESULT status=ok"
product='product="Velmora Oskaro Tq3480 / Oskaro Tq3480 PCL TWAIN" version="V1.00"'
check "the splash shows the product, \"V1.00\" and \"Initializing\"" \
    matches "$log" "^WINDOW event=shown kind=splash .* caption=\"\" owner=none .* $product status=\"Initializing\""
stamp() { sed -n "s/^WINDOW event=$2 kind=$3 .* t=\([0-9]*\)$/\1/p" "$1" | head -1; }
splash_ms=$(($(stamp "$log" shown settings) - $(stamp "$log" shown splash) + 0))
check "the splash stays a second (${splash_ms} ms), then the settings dialog \"Twain Scan Driver\" appears" \
    all test "$splash_ms" -ge 950 \
    ";;" matches "$log" '^WINDOW event=shown kind=settings .* caption="Twain Scan Driver" owner=none'
controls_ok() {
    local noid='(-1|65535)' combo='class=ComboBox text="[^"]*" visible=1 rect=[^ ]* items='
    local expected=(
        "$noid class=Button text=\"\" visible=1"
        "$noid class=Static text=\"Paper Size\" visible=1"
        "$noid class=Static text=\"Scan Type\" visible=1"
        "$noid class=Static text=\"Resolution\" visible=1"
        "720 class=Static text=\"Duplex Scanning\" visible=1"
        "$noid class=Static text=\"Brightness\" visible=1"
        "701 $combo\"A3L[|]B4L[|]A4L[|]B5L[|]A5L[|]FLS L[|]A4C[|]B5C[|]A5C[|]Ledger L[|]11x14 L[|]Legal L[|]Letter L[|]Half Letter L[|]Letter C[|]Half Letter C[|]8KL[|]16KL[|]16KC\""
        "702 $combo\"B/W[|]Photo\""
        "703 $combo\"150dpi x 150dpi[|]300dpi x 300dpi[|]600dpi x 600dpi\""
        "704 $combo\"OFF[|]ON\""
        "705 class=ScrollBar text=\"\" visible=1"
        "706 class=Edit text=\"0\" visible=1"
        "710 class=Button text=\"Help\" visible=1"
        "711 class=Button text=\"About\" visible=1"
        "712 class=Button text=\"Scan\" visible=1"
        "713 class=Button text=\"Close\" visible=1"
    )
    local entry missing=0
    for entry in "${expected[@]}"; do
        if ! matches "$log" "^CONTROL id=$entry"; then
            echo "    no control like: $entry"
            missing=1
        fi
    done
    [ "$missing" = 0 ] && has "$log" "CONTROLS kind=settings count=16"
}
check "the settings dialog has its 16 controls with their texts and lists" controls_ok
check "with no settings file it shows A4L, B/W, 300 dpi, duplex OFF, brightness 0 (box and thumb)" \
    matches "$log" '^UI_STATE reason=shown paper=2 .* paper_text="A4L" scan_type=0 .* scan_type_text="B/W" resolution=1 .* resolution_text="300dpi x 300dpi" duplex=0 .* duplex_text="OFF" duplex_visible=1 duplex_label_visible=1 brightness_text="0" .* scroll_pos=0 scroll_range=-4,4 .* complete=1'
check "About shows the product, \"V1.00\" and two notice lines, owned by the settings dialog" \
    matches "$log" "^WINDOW event=shown kind=about .* caption=\"About\" owner=settings .* $product notice1=\"[^\"]+\" notice2=\"[^\"]+\""
check "each accepted Scan leads to MSG_XFERREADY and a native transfer (3 of 3)" \
    all count_is "$log" '^EVENT twmessage=MSG_XFERREADY' 3 \
    ";;" count_is "$log" '^NATIVE rc=TWRC_XFERDONE .* tail_bytes=96 tail_zero=96' 3
page $run page1.bmp 2 300
imageinfo $run 1 300
page $run page2.bmp 2 150
imageinfo $run 2 150
page $run page3.bmp 12 600
imageinfo $run 3 600
check "Scan with duplex on and an empty feeder shows \"ADF (duplex) No Paper\" with the stop icon" \
    matches "$log" "^MSGBOX n=1 .* caption=\"$section\" text=\"ADF \\(duplex\\) No Paper\" .* icon=stop buttons=OK"
check "... and no transfer follows it" \
    all count_is "$log" '^MSGBOX ' 1 ";;" matches "$log" '^EVENTS end=close-request .* xferready=3 closedsreq=1'
check "Close leads to MSG_CLOSEDSREQ, then the application disables and closes" \
    all matches "$log" '^EVENT twmessage=MSG_CLOSEDSREQ' \
    ";;" matches "$log" 'MSG_DISABLEDS dest=source rc=TWRC_SUCCESS' \
    ";;" matches "$log" 'MSG_CLOSEDS dest=dsm rc=TWRC_SUCCESS'
check "UAXXXX.ini holds the five values the dialog left: Letter L, B/W, 600 dpi, duplex off, brightness 1" \
    settings_are "$(settings_text 12 0 2 0 1)"
check "the splash was captured and is drawn ($artifacts/splash.png)" \
    drawn "$artifacts/splash.png" "$(window_rect "$log" splash)"
check "the settings dialog was captured and is drawn ($artifacts/settings.png)" \
    drawn "$artifacts/settings.png" "$(window_rect "$log" settings)"
check "the About box was captured and is drawn ($artifacts/about.png)" \
    drawn "$artifacts/about.png" "$(window_rect "$log" about)"

# Without the dialog: the values the dialog stored show in the capabilities
# and the layout at the next open; capabilities choose A4 at 300 dpi; the
# memory transfer into the application's buffers.
run=caps-memory
log=$artifacts/$run/twain_app.log
app $run -- --xfer memory --mem app-pointer --out 'page{n}.bmp' \
    --getcurrent ICAP_XRESOLUTION --get ICAP_BRIGHTNESS --layout get \
    --set ICAP_SUPPORTEDSIZES=1 --set ICAP_XRESOLUTION=300
check "$run: the application ends well" has "$log" "RESULT status=ok"
check "at the next open: the dialog's 600 dpi, brightness 1 and the Letter frame (8.51 x 11.03 in)" \
    all matches "$log" '^CAP msg=MSG_GETCURRENT cap=ICAP_XRESOLUTION rc=TWRC_SUCCESS .* value=600( |$)' \
    ";;" matches "$log" '^CAP msg=MSG_GET cap=ICAP_BRIGHTNESS rc=TWRC_SUCCESS .* current=1 ' \
    ";;" matches "$log" '^IMAGELAYOUT msg=MSG_GET rc=TWRC_SUCCESS frame=0,0,8\.51[0-9]*,11\.03[0-9]* '
check "$run: every strip is whole rows at its place" \
    all matches "$log" '^MEMXFER rc=TWRC_XFERDONE' ";;" lacks "$log" '^STRIP .* check=[^o]'
page $run page1.bmp 2 300
imageinfo $run 1 300 # enabled without the dialog: no Scan built the window
check "UAXXXX.ini holds the capabilities' A4L and 300 dpi after close" \
    settings_are "$(settings_text 2 0 1 0 1)"

# The dialog shows the capabilities' settings at the next open; memory
# transfer into the source's own buffer.
run=ui-memory-ds
log=$artifacts/$run/twain_app.log
app $run -- --ui --stay --xfer memory --mem ds-handle --out 'page{n}.bmp' \
    --do state --do scan --do select:701=12 --do select:703=0 --do scan --do close
check "$run: the application ends well" has "$log" "RESULT status=ok"
check "the dialog opens with the capabilities' A4L, 300 dpi and the brightness 1" \
    matches "$log" '^UI_STATE reason=shown paper=2 .* resolution=1 .* brightness_text="1" .* scroll_pos=1 '
check "$run: every strip is whole rows at its place" \
    all count_is "$log" '^MEMXFER rc=TWRC_XFERDONE' 2 ";;" lacks "$log" '^STRIP .* check=[^o]'
page $run page1.bmp 2 300
imageinfo $run 1 300
page $run page2.bmp 12 150
imageinfo $run 2 150

# File transfer: the source writes the BMP files itself.
run=ui-file
log=$artifacts/$run/twain_app.log
app $run -- --ui --stay --xfer file --file-name 'page{n}.bmp' \
    --do select:703=1 --do scan --do select:701=2 --do select:703=2 --do scan --do close
check "$run: the application ends well" has "$log" "RESULT status=ok"
page $run page1.bmp 12 300 keep
imageinfo $run 1 300
same_pixels() { # IMAGE IMAGE, as ImageMagick reads them
    local first second
    first=$(convert "$1" -depth 8 gray:- | md5sum) && second=$(convert "$2" -depth 8 gray:- | md5sum) &&
        [ "$first" = "$second" ]
}
"$WINE_ENV_HOST_BUILD/page_png" "$artifacts/$run/page1.bmp" "$artifacts/$run/page1.png"
check "the main job's PNG preview of that page (2551 pixels wide) has its pixels" \
    same_pixels "$artifacts/$run/page1.bmp" "$artifacts/$run/page1.png"
rm -f "$artifacts/$run/page1.png"
[ "$page_ok" = 1 ] && rm -f "$artifacts/$run/page1.bmp"
page $run page2.bmp 2 600
imageinfo $run 2 600
check "the scanner started $scans scans, with no protocol error on the wire" \
    all count_is "$WINE_ENV_TRANSCRIPT" 'StartScan total' "$scans" ";;" test ! -s "$WINE_ENV_PROTOCOL_ERRORS"
session_end

# ---- Sessions 2 and 3: a jammed scanner, no scanner.
if session_begin jam null scanner=0 0.status=1; then
    run=jam
    log=$artifacts/$run/twain_app.log
    app $run -- --xfer native
    check "a jammed scanner shows \"Document JAM on machine\" under \"$section\"" \
        matches "$log" "^MSGBOX n=1 .* caption=\"$section\" text=\"Document JAM on machine\" .* icon=stop"
    check "... and the open fails" matches "$log" 'DAT_IDENTITY/MSG_OPENDS .*rc=TWRC_FAILURE'
fi
session_end
if session_begin absent null device=0:0x1234; then
    run=absent
    log=$artifacts/$run/twain_app.log
    app $run -- --xfer native
    check "no scanner: the open fails without a box" \
        all matches "$log" 'DAT_IDENTITY/MSG_OPENDS .*rc=TWRC_FAILURE' ";;" lacks "$log" '^MSGBOX '
fi
session_end

echo "end-to-end part took $((SECONDS - start)) s; screenshots and logs in $artifacts"
echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
