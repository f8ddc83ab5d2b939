#!/usr/bin/env bash
# One scan end to end: the real Tq3480P.ds under Wine, loaded by Wine's own
# Source Manager, driven by tools/win32/twain_app.exe, talking to the scanner
# simulator through the usbscan relay.
#
#   scripts/e2e_scan.sh [--scenario "WORD ..."] [--display null|xvfb]
#                       [--out DIR] [--shot TEXT FILE]... [--] [twain_app options]
#
#   --scenario   the scanner server's scenario words (default "scanner=0"),
#                see tools/host/scanner_server.cpp
#   --display    null (default: windows exist, nothing is drawn) or xvfb
#   --out DIR    where the pages and logs go (default: a new directory, printed)
#   --shot T F   with xvfb: capture the screen into F (PNG) once the
#                application's log has a line containing T (for instance
#                "kind=settings" or "MSGBOX n=1"); give the application time
#                with --ui-delay or --box-delay
#   the rest     passed to twain_app (default: --xfer native); run it with
#                --help for the list
#
# DIR receives twain_app.log (the application's log, one line per step),
# the pages the application wrote (its working directory is DIR), server.log,
# transcript.txt and protocol_errors.txt of the simulator. The exit status is
# twain_app's (0 done, 1 a request failed, 4 source not found, 5 time-out),
# 77 when this machine cannot run Wine's 32-bit programs, 3 when the set-up
# failed. Needs `scripts/build.sh win gcc` first.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/wine_env.sh

scenario=(scanner=0)
display=null
out=
shots=()
while [ $# -gt 0 ]; do
    case "$1" in
    --scenario) read -r -a scenario <<<"$2"; shift 2 ;;
    --display) display=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --shot) shots+=("$2" "$3"); shift 3 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
app_args=("$@")
[ ${#app_args[@]} -gt 0 ] || app_args=(--xfer native)

for needed in "$WINE_ENV_BUILD/twain_app.exe" "$WINE_ENV_BUILD/Tq3480P.ds" \
    "$WINE_ENV_BUILD/usbscan_relay.sys" "$WINE_ENV_HOST_BUILD/scanner_server"; do
    if [ ! -e "$needed" ]; then
        echo "e2e_scan: $needed is missing: run scripts/build.sh win gcc first" >&2
        exit 3
    fi
done
if ! wine_env_enable_i386; then
    echo "e2e_scan: SKIP: Wine cannot run 32-bit programs on this machine" >&2
    exit 77
fi
wine_env_setup --display "$display" || exit 3
trap wine_env_cleanup EXIT
if [ -z "$out" ]; then
    out=$(mktemp -d "${TMPDIR:-/tmp}/tq3480p-scan.XXXXXX")
fi
mkdir -p "$out" && out=$(realpath "$out")

wine_env_start_server "${scenario[@]}" || exit 3
wine_env_install_relay || exit 3
wine_env_install_source || exit 3
wine_env_start_session || exit 3

# Each capture waits for its text in the application's log.
if [ ${#shots[@]} -gt 0 ] && [ "$display" != xvfb ]; then
    echo "e2e_scan: --shot needs --display xvfb" >&2
    shots=()
fi
for ((i = 0; i < ${#shots[@]}; i += 2)); do
    wine_env_capture_when "${shots[i]}" "$WINE_ENV_RUN/twain_app.out" "${shots[i + 1]}"
done

# The application runs in DIR, so that the pages it writes land there.
status=0
(cd "$out" && wine_env_run twain_app "$WINE_ENV_BUILD/twain_app.exe" "${app_args[@]}") || status=$?
wine_env_wait_captures

cp "$WINE_ENV_RUN/twain_app.out" "$out/twain_app.log" 2>/dev/null
cp "$WINE_ENV_RUN/twain_app.err" "$out/twain_app.err" 2>/dev/null
wine_env_stop_session
wine_env_stop_server
for file in "$WINE_ENV_SERVER_LOG" "$WINE_ENV_TRANSCRIPT" "$WINE_ENV_PROTOCOL_ERRORS"; do
    [ -f "$file" ] && cp "$file" "$out/"
done

grep -E '^(SOURCE_NOT_FOUND|MSGBOX |PAGE|TIMEOUT|RESULT)' "$out/twain_app.log" 2>/dev/null
echo "e2e_scan: exit $status, pages and logs in $out"
exit "$status"
