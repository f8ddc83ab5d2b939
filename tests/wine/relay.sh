#!/usr/bin/env bash
# The usbscan relay under Wine: a Win32 program opens "\\.\Usbscan0\0" to "\3"
# through usbscan_relay.sys and talks to the scanner simulator, which runs as
# the native scanner_server; a read left pending ends when its handle closes
# and when its process ends.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine_env.sh

passed=0
failed=0
check() { # DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "  ok   $description"
    else
        failed=$((failed + 1))
        echo "  FAIL $description"
    fi
}
has() { # FILE FIXED-TEXT
    grep -qF -- "$2" "$1" 2>/dev/null
}
show() { # FILE...
    local file
    for file in "$@"; do
        echo "---- $(basename "$file")"
        sed 's/^/    /' "$file" 2>/dev/null | tail -40
    done
}
elapsed() {
    echo "$((SECONDS - $1)) s"
}

for needed in "$WINE_ENV_BUILD/usbscan_probe.exe" "$WINE_ENV_BUILD/usbscan_relay.sys" \
    "$WINE_ENV_HOST_BUILD/scanner_server"; do
    if [ ! -e "$needed" ]; then
        echo "relay: $needed is missing: run scripts/build.sh win gcc first"
        exit 1
    fi
done

if ! wine_env_enable_i386; then
    echo "SKIP: Wine cannot run 32-bit programs on this machine"
    exit 77
fi
started=$SECONDS
step=$SECONDS
wine_env_setup || exit 1
trap wine_env_cleanup EXIT
echo "  prefix ready in $(elapsed "$step") ($WINE_ENV_RUN)"

# Two scanners with an empty slot between them; the server holds the second
# and the fourth read it gets.
wine_env_start_server scanner=0 scanner=2 stall-read=2 stall-read=4 || exit 1
wine_env_install_relay 15 || exit 1
probe=$WINE_ENV_BUILD/usbscan_probe.exe
release1=$WINE_ENV_RUN/release1
release2=$WINE_ENV_RUN/release2

# ---- A whole conversation, then a pending read ended by closing its handle.
step=$SECONDS
wine_env_start_session || exit 1
wine_env_run probe1 "$probe" --wait-names 600 --missing 1 \
    --hold "$(wine_env_winpath "$release1")" &
probe1=$!
if wine_env_wait_log "held (stall-read=2)" "$WINE_ENV_TIMEOUT" "$probe1"; then
    touch "$release1"
fi
wait "$probe1"
status1=$?
echo "  first probe (with the session start) took $(elapsed "$step")"
out1=$WINE_ENV_RUN/probe1.out
check "the relay came up with the names of slots 0 and 2" \
    has "$WINE_ENV_SERVER_LOG" "hello: the relay serves up to 15 slots; devices in 0 2"
check "the device name opens" has "$out1" 'open \\.\Usbscan0\0: ok'
check "the descriptor request returns 8 bytes with product 302C" \
    grep -qE '^descriptor: ok, 8 bytes: 4D 0A 2C 30 00 01 09 04, product 302C$' "$out1"
for pipe in 1 2 3; do
    check "pipe $pipe opens" has "$out1" "open \\\\.\\Usbscan0\\$pipe: ok"
done
check "the status block is written whole" has "$out1" "write status block: ok, 64 bytes"
check "the status read returns the ready byte" has "$out1" "read status: ok, 1 bytes: 00"
check "the simulator carried out the status command" has "$WINE_ENV_TRANSCRIPT" "[0] GetStatus -> 00 ready"
check "the descriptor request reached the simulator" \
    has "$WINE_ENV_TRANSCRIPT" "[0] descriptor request -> 8 bytes, product 302C"
check "the held read ends as cancelled when its pipe is closed" \
    grep -qE '^pending read: ended [0-9]+ ms after the close, result 0, 0 bytes, error 995 \(cancelled\)$' "$out1"
held1=$(sed -n 's/^#\([0-9]*\) read .* held (stall-read=2)$/\1/p' "$WINE_ENV_SERVER_LOG")
check "the server was told of the cancelled read" has "$WINE_ENV_SERVER_LOG" "#$held1 cancelled by the client"
check "an empty slot's name does not exist (error 3)" has "$out1" 'open \\.\Usbscan1\0: failed, error 3'
check "the first probe found every answer it expected (exit 0)" test "$status1" -eq 0
if [ "$status1" -ne 0 ] || [ "$failed" -gt 0 ]; then
    show "$out1" "$WINE_ENV_RUN/probe1.err" "$WINE_ENV_SERVER_LOG"
fi

# ---- A process that ends with a read pending: the cancel routine ends it.
before=$failed
step=$SECONDS
wine_env_run probe2 "$probe" --slot 2 --hold "$(wine_env_winpath "$release2")" \
    --exit-while-pending &
probe2=$!
if wine_env_wait_log "held (stall-read=4)" "$WINE_ENV_TIMEOUT" "$probe2"; then
    touch "$release2"
fi
wait "$probe2"
status2=$?
held2=$(sed -n 's/^#\([0-9]*\) read .* held (stall-read=4)$/\1/p' "$WINE_ENV_SERVER_LOG")
wine_env_wait_log "#$held2 cancelled by the client" 60
echo "  second probe took $(elapsed "$step")"
out2=$WINE_ENV_RUN/probe2.out
check "the second scanner answers its status read" has "$out2" "read status: ok, 1 bytes: 00"
check "the second probe ended with its read pending" has "$out2" "exit: with the read pending"
check "the pending read of the ended process was cancelled" \
    has "$WINE_ENV_SERVER_LOG" "#$held2 cancelled by the client"
if [ "$failed" -gt "$before" ]; then
    show "$out2" "$WINE_ENV_RUN/probe2.err" "$WINE_ENV_SERVER_LOG"
fi

# ---- The session ends: the server stops by itself, every handle closed.
before=$failed
step=$SECONDS
wine_env_stop_session
wine_env_stop_server
echo "  session and server ended in $(elapsed "$step")"
check "the server stopped by itself when the relay went" \
    grep -qE '^stop: the relay (has gone|no longer reads its answers)$|^bye: the relay unloads$' \
    "$WINE_ENV_SERVER_LOG"
check "the server exited with status 0" test "${WINE_ENV_SERVER_STATUS:-1}" -eq 0
opens=$(grep -cE '^\[[0-9]+\] open .* -> h[0-9]+$' "$WINE_ENV_TRANSCRIPT")
closes=$(grep -cE '^\[[0-9]+\] close ' "$WINE_ENV_TRANSCRIPT")
check "all $opens handles opened were closed ($closes)" test "$opens" -eq 8 -a "$closes" -eq "$opens"
check "the simulator saw no protocol error" test ! -s "$WINE_ENV_PROTOCOL_ERRORS"
if [ "$failed" -gt "$before" ]; then
    show "$WINE_ENV_SERVER_LOG" "$WINE_ENV_TRANSCRIPT" "$WINE_ENV_PROTOCOL_ERRORS"
fi

echo "  whole run took $(elapsed "$started")"
[ "$failed" -gt 0 ] && WINE_ENV_KEEP=1
echo "relay: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
