#!/usr/bin/env bash
# The fault soak of the real DLL: tools/win32/twain_app.exe scans many pages in
# one process through Wine's own TWAIN_32.DLL, turning in a cycle through the
# native, memory (the application's buffers and the source's own) and file
# transfers, while the scanner simulator injects a fault into every Nth page:
# the scanner unplugged, jammed, busy, in machine error, a short read, a
# condition after a data read, a jam in the feeder.
#
#   scripts/soak.sh [--pages N] [--every N] [--out DIR]
#
#   --pages   pages to scan (default 210)
#   --every   a fault in every Nth page, the first at page 3 (default 5)
#   --out     where the logs go (default: a new directory, printed)
#
# The source is opened once and every page is one enable, transfer, end of
# transfer and disable: Wine's Source Manager keeps the library loaded after
# a close, and a loaded library accepts one open, so a second open in the
# same process would fail. The faults therefore strike the transfers. Each
# page's faults belong to the channel its transfer opens to the scanner: the
# open is channel 1, page i uses channels 3i-1 (image information), 3i (the
# transfer) and 3i+1 (end of transfer); see scanner_server's channel-fault.
#
# Checked, and printed as figures:
# - every faulty page shows its message boxes (text, caption "Velmora Oskaro
#   Tq3480 PCL", stop icon) during its transfer, which returns TWRC_CANCEL;
# - every other page is delivered exactly: the BMP the application holds
#   (built from the DIB, from the strips, or the file written) is byte for
#   byte the one tools/host/expected_page computes for the scan that page
#   started; a faulty page leaves no file;
# - the resolution (150 dpi) and paper (Letter) set after the open are in
#   effect at every enable and in UAXXXX.ini after the close;
# - the process's private memory and working set (GetProcessMemoryInfo: Wine
#   reads them from /proc) over the last hundred pages stay within 256 KiB of
#   their peak over the first hundred (the heap grows in steps of 128 KiB
#   while it warms up, within the first 50 pages in the runs so far);
# - no protocol error on the wire.
# Exit status: 0 all held, 1 a check failed, 3 the set-up failed, 77 this
# machine cannot run Wine's 32-bit programs. Needs `scripts/build.sh win
# gcc-tools` (or win gcc) first.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/wine_env.sh

pages=210
every=5
out=
while [ $# -gt 0 ]; do
    case "$1" in
    --pages) pages=$2; shift 2 ;;
    --every) every=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: scripts/soak.sh [--pages N] [--every N] [--out DIR]" >&2; exit 2 ;;
    esac
done
case "$pages$every" in
*[!0-9]*) echo "soak: --pages and --every take numbers" >&2; exit 2 ;;
esac
if [ "$pages" -lt 200 ] || [ "$every" -lt 2 ]; then
    echo "soak: at least 200 pages (memory is compared over two hundreds) and --every 2 or more" >&2
    exit 2
fi

for needed in "$WINE_ENV_BUILD/twain_app.exe" "$WINE_ENV_BUILD/Tq3480P.ds" \
    "$WINE_ENV_BUILD/usbscan_relay.sys" "$WINE_ENV_HOST_BUILD/scanner_server" \
    "$WINE_ENV_HOST_BUILD/expected_page"; do
    if [ ! -e "$needed" ]; then
        echo "soak: $needed is missing: run scripts/build.sh win gcc-tools first" >&2
        exit 3
    fi
done
if ! wine_env_enable_i386; then
    echo "soak: SKIP: Wine cannot run 32-bit programs on this machine" >&2
    exit 77
fi
if [ -z "$out" ]; then
    out=$(mktemp -d "${TMPDIR:-/tmp}/tq3480p-soak.XXXXXX")
fi
mkdir -p "$out" && out=$(realpath "$out")
for file in schedule.txt exact.txt twain_app.log twain_app.err UAXXXX.ini figures.txt \
    server.log transcript.txt protocol_errors.txt expected.bmp page*.bmp; do
    rm -f "$out"/$file
done

# The schedule: page, fault, whether the transfer gets as far as starting the
# scan (a scan number is used up), and the boxes in the order they appear.
kinds=(unplugged jam busy machine-error short-read read-condition feeder-jam)
status_box=("" "Document JAM on machine" "Machine error" "Scanner Busy")
words=(scanner=0)
n=0
for ((page = 3; page <= pages; page += every)); do
    kind=${kinds[n % ${#kinds[@]}]}
    round=$((n / ${#kinds[@]}))
    n=$((n + 1))
    fault=$kind scans=0
    case "$kind" in
    unplugged) boxes="Scanner not ready" ;;
    jam) boxes="Document JAM on machine" ;;
    busy) boxes="Scanner Busy" ;;
    machine-error) boxes="Machine error" ;;
    feeder-jam) boxes="Document JAM on machine" ;;
    short-read)
        # Only 1000 bytes of one of the page's five reads arrive.
        fault="short-read:$((round % 5 + 1)):1000" scans=1
        boxes="Read Data Error|Scanner not ready" ;;
    read-condition)
        # After one of the five reads, the last included, the scanner reports
        # a jam, a machine error or busy.
        status=$((round % 3 + 1))
        fault="read-condition:$((round % 5 + 1)):$status" scans=1
        boxes=${status_box[status]} ;;
    esac
    words+=("0.channel-fault=$((3 * page)):$fault")
    printf '%s %s %s %s\n' "$page" "$kind" "$scans" "$boxes"
done >"$out/schedule.txt"

wine_env_setup --display null || exit 3
trap wine_env_cleanup EXIT
wine_env_start_server "${words[@]}" || exit 3
wine_env_install_relay || exit 3
wine_env_install_source || exit 3
wine_env_start_session || exit 3

# Native, memory and file in turn; the memory pages turn through the
# application's buffers (by pointer, by handle) and the source's own.
cycle=native,memory:app-pointer,file,native,memory:ds-handle,file
cycle=$cycle,native,memory:app-handle,file,native,memory:ds-pointer,file
echo "soak: $pages pages, a fault in every ${every}th from page 3 ($n faults); logs in $out"
start=$SECONDS
status=0
(cd "$out" && wine_env_run --timeout $((pages * 20 + 180)) twain_app "$WINE_ENV_BUILD/twain_app.exe" \
    --loop "$pages" --timeout $((pages * 20 + 120)) --memory-every 1 \
    --xfer-cycle "$cycle" --out 'page{n}.bmp' --file-name 'page{n}.bmp' \
    --set ICAP_XRESOLUTION=150 --set ICAP_SUPPORTEDSIZES=3 \
    --get 5:ICAP_XRESOLUTION --get 5:ICAP_SUPPORTEDSIZES) || status=$?
seconds=$((SECONDS - start))
cp "$WINE_ENV_RUN/twain_app.out" "$out/twain_app.log" 2>/dev/null
cp "$WINE_ENV_RUN/twain_app.err" "$out/twain_app.err" 2>/dev/null
ini=$(wine_env_temp_dir)/UAXXXX.ini
[ -f "$ini" ] && tr -d '\r' <"$ini" >"$out/UAXXXX.ini"
wine_env_stop_session
wine_env_stop_server
for file in "$WINE_ENV_SERVER_LOG" "$WINE_ENV_TRANSCRIPT" "$WINE_ENV_PROTOCOL_ERRORS"; do
    [ -f "$file" ] && cp "$file" "$out/"
done
echo "soak: twain_app ended with $status after $seconds s (it counts the faulty pages as failures)"

# Each fault-free page against the page the simulator scanned for it: the
# scans are numbered from 1, and a faulty transfer that started its scan
# used up a number. A page found equal is removed.
declare -A starts
while read -r page kind scans boxes; do
    starts[$page]=$scans
done <"$out/schedule.txt"
scan=0
for ((page = 1; page <= pages; page++)); do
    if [ -n "${starts[$page]+set}" ]; then
        scan=$((scan + starts[$page]))
        [ -e "$out/page$page.bmp" ] && echo "$page file-left"
        continue
    fi
    scan=$((scan + 1))
    "$WINE_ENV_HOST_BUILD/expected_page" --paper 12 --dpi 150 --page "$scan" \
        --out "$out/expected.bmp" >/dev/null || echo "$page no-expectation"
    if cmp -s "$out/page$page.bmp" "$out/expected.bmp"; then
        echo "$page exact"
        rm -f "$out/page$page.bmp"
    else
        echo "$page differs-from-scan-$scan"
    fi
done >"$out/exact.txt"
rm -f "$out/expected.bmp"

awk -v pages="$pages" -v seconds="$seconds" -v ini="$out/UAXXXX.ini" \
    -v errors="$out/protocol_errors.txt" '
function field(line, key,    at) {
    if (match(line, " " key "=\"[^\"]*\"")) {
        return substr(line, RSTART + length(key) + 3, RLENGTH - length(key) - 4)
    }
    if (match(line, " " key "=[^ ]*")) {
        return substr(line, RSTART + length(key) + 2, RLENGTH - length(key) - 2)
    }
    return ""
}
function fail(text) {
    failures++
    if (failures <= 20) print "soak: FAIL " text
}
{ sub(/\r$/, "") }
FILENAME ~ /schedule.txt$/ {
    kind[$1] = $2; scans[$1] = $3
    boxes = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", boxes); want[$1] = boxes
    next
}
FILENAME ~ /exact.txt$/ { compared[$1] = $2; next }
/^MSGBOX / {
    got[current + 1] = got[current + 1] (got[current + 1] == "" ? "" : "|") field($0, "text")
    if (field($0, "caption") != "Velmora Oskaro Tq3480 PCL" || field($0, "icon") != "stop")
        badbox[current + 1] = field($0, "caption") "/" field($0, "icon")
    phase[current + 1] = phase[current + 1] " " field($0, "phase")
    next
}
/^PAGE / {
    i = field($0, "iteration")
    rc[i] = field($0, "rc"); mech[i] = field($0, "mech"); mem[i] = field($0, "mem")
    size[i] = field($0, "width") "x" field($0, "height")
    perror[i] = field($0, "error")
    ended[i] = field($0, "endxfer") "/" field($0, "pending")
    next
}
/^CAP msg=MSG_GET cap=ICAP_XRESOLUTION / { if (field($0, "current_value") == "150") xres++; next }
/^CAP msg=MSG_GET cap=ICAP_SUPPORTEDSIZES / { if (field($0, "current_value") == "3") sizes++; next }
/^ITERATION / { current = field($0, "n"); next }
/^MEMORY phase=page / {
    p = field($0, "pages"); private[p] = field($0, "private"); ws[p] = field($0, "working_set")
    next
}
END {
    for (i = 1; i <= pages; i++) {
        if (!(i in rc)) { fail("page " i ": no transfer logged"); continue }
        name = mech[i] (mem[i] == "" ? "" : "(" mem[i] ")")
        mechs[mech[i]]++
        if (ended[i] != "TWRC_SUCCESS/0") fail("page " i " " name ": MSG_ENDXFER " ended[i])
        if (i in kind) {
            k = kind[i]; injected[k]++; faults++
            ok = rc[i] == "TWRC_CANCEL" && got[i] == want[i] && !(i in badbox) && !(i in compared)
            split(phase[i], where, " ")
            for (w in where) if (where[w] !~ /^DAT_IMAGE(NATIVE|MEM|FILE)XFER$/) ok = 0
            if (ok) { shown[k]++; shownall++ }
            else fail("page " i " " name ", " k ": rc " rc[i] ", boxes [" got[i] "] want [" want[i] "]" \
                      ((i in badbox) ? ", caption/icon " badbox[i] : "") ", during" phase[i] \
                      ((i in compared) ? ", " compared[i] : ""))
            continue
        }
        ok = rc[i] == "TWRC_XFERDONE" && perror[i] == "" && size[i] == "1275x1647" && \
             compared[i] == "exact" && got[i] == ""
        if (ok) { exact++; if ((i - 1) in kind) after++ }
        else fail("page " i " " name ": rc " rc[i] " " size[i] ", " compared[i] \
                  (got[i] == "" ? "" : ", boxes [" got[i] "]") (perror[i] == "" ? "" : ", error " perror[i]))
        if ((i - 1) in kind) following++
    }
    clean = pages - faults
    for (p = 1; p <= 100; p++) {
        if (private[p] + 0 > firstPrivate) firstPrivate = private[p] + 0
        if (ws[p] + 0 > firstWs) firstWs = ws[p] + 0
    }
    for (p = pages - 99; p <= pages; p++) {
        if (private[p] + 0 > lastPrivate) lastPrivate = private[p] + 0
        if (ws[p] + 0 > lastWs) lastWs = ws[p] + 0
    }
    margin = 256 * 1024
    printf "soak: %d pages in one process in %d s: native %d, memory %d, file %d\n", \
        pages, seconds, mechs["native"], mechs["memory"], mechs["file"]
    line = ""
    split("unplugged jam busy machine-error short-read read-condition feeder-jam", order, " ")
    for (o = 1; o <= 7; o++) line = line sprintf(" %s %d/%d", order[o], shown[order[o]], injected[order[o]])
    printf "soak: faults %d, shown as specified %d:%s\n", faults, shownall, line
    printf "soak: pages delivered exactly: %d of %d fault-free pages (%d of %d right after a fault)\n", \
        exact, clean, after, following
    if (exact != clean) fail("not every fault-free page was delivered exactly")
    if (shownall != faults) fail("not every faulty page showed its boxes and TWRC_CANCEL")
    printf "soak: settings: 150 dpi at %d and Letter at %d of %d enables", xres, sizes, pages
    settings = 0
    while ((getline text < ini) > 0) {
        if (text == "Paper Size=12" || text == "Resolution=0") { settings++; printf "; %s", text }
    }
    printf " (UAXXXX.ini)\n"
    if (xres != pages || sizes != pages || settings != 2) fail("the settings did not survive")
    printf "soak: memory (KiB): private %d at page 1, peak %d over pages 1-100, %d over pages %d-%d, %d at the end\n", \
        private[1] / 1024, firstPrivate / 1024, lastPrivate / 1024, pages - 99, pages, private[pages] / 1024
    printf "soak: memory (KiB): working set %d at page 1, peak %d over pages 1-100, %d over pages %d-%d, %d at the end\n", \
        ws[1] / 1024, firstWs / 1024, lastWs / 1024, pages - 99, pages, ws[pages] / 1024
    if (firstPrivate == 0 || lastPrivate > firstPrivate + margin || lastWs > firstWs + margin)
        fail("memory grew by more than " margin / 1024 " KiB from the first to the last hundred pages")
    if ((getline text < errors) > 0) fail("protocol errors on the wire, first: " text)
    print failures ? "soak: FAILED (" failures " checks)" : "soak: PASS"
    exit failures ? 1 : 0
}' "$out/schedule.txt" "$out/exact.txt" "$out/twain_app.log" | tee "$out/figures.txt"
exit "${PIPESTATUS[0]}"
