# Runs Win32 programs of ours under Wine against the simulated scanner.
# Sourced by the Wine tests and the demo (bash):
#
#   source scripts/wine_env.sh
#   wine_env_setup                  # a fresh prefix of this run's own (null display)
#   trap wine_env_cleanup EXIT
#   wine_env_start_server scanner=0 0.feeder-sheets=1   # the simulator, scenario words
#   wine_env_install_relay          # the usbscan names, served by that server
#   wine_env_install_source         # build/win/Tq3480P.ds where Wine's TWAIN_32 loads it
#   wine_env_run probe "$WINE_ENV_BUILD/usbscan_probe.exe" --wait-names 60
#   grep ... "$WINE_ENV_RUN/probe.out" "$WINE_ENV_TRANSCRIPT"
#
# Functions (each returns non-zero with a message on stderr when it fails):
#   wine_env_setup [--display null|xvfb]
#       Makes the run directory $WINE_ENV_RUN and the prefix $WINEPREFIX in it,
#       copied from a ready prefix that is made once per machine and kept in
#       $WINE_ENV_CACHE (default ~/.cache/tq3480p-wine). "null" (the default)
#       sets Wine's Graphics driver to null: windows exist and can be driven
#       but nothing is drawn. "xvfb" starts an X server of the run's own
#       ($DISPLAY) so that windows are drawn; capture them with
#       `import -window root FILE.png`.
#   wine_env_start_server [--connect-timeout S] [WORD...]
#       Starts tools/host/scanner_server with the scenario WORDs (see the
#       server's header) and waits until its FIFOs are open. Its files:
#       $WINE_ENV_SERVER_LOG (one line per relayed request),
#       $WINE_ENV_TRANSCRIPT (the simulator's transcript) and
#       $WINE_ENV_PROTOCOL_ERRORS (the simulator's protocol errors).
#   wine_env_install_relay [SLOTS]
#       Registers usbscan_relay.sys as an automatically started kernel
#       service pointed at the server's FIFOs, for the slots below SLOTS
#       (default 15) in which the server's scenario put a device: only those
#       names exist. Call it after wine_env_start_server and before the first
#       wine_env_run; the driver then starts with the Wine session, before
#       the session's first program runs.
#   wine_env_install_source [DS]
#       Puts the data source (default $WINE_ENV_BUILD/Tq3480P.ds) at
#       C:\windows\twain_32\sane.ds, the one path Wine 8.0's Source Manager
#       loads, and at C:\windows\twain_32\Tq3480P\Tq3480P.ds.
#   wine_env_run [--timeout S] NAME PROGRAM [ARG...]
#       Runs a Win32 program (a Unix path; the first call starts the
#       prefix's session, which lasts until wine_env_stop_session) with its
#       output in
#       $WINE_ENV_RUN/NAME.out and NAME.err (never through a pipe: Wine's
#       services inherit it) and returns the program's exit status (124 on
#       the time-out, default $WINE_ENV_TIMEOUT seconds).
#   wine_env_wait_log TEXT [SECONDS [PID]]
#       Waits until the server log has a line containing TEXT; gives up when
#       the server ends, or the process PID (a background wine_env_run).
#   wine_env_winpath PATH
#       Prints the Wine (Z:) name of a Unix path.
#   wine_env_temp_dir
#       Prints the Unix path of the prefix's temporary directory (%TEMP%).
#   wine_env_capture_when TEXT LOG FILE
#       With xvfb, in the background: once the file LOG has a line containing
#       TEXT, waits a moment for the screen to settle and captures it into
#       FILE (PNG). Gives up when $WINE_ENV_RUN/capture.stop appears; wait for
#       the captures with wine_env_wait_captures, which also makes that file.
#   wine_env_start_session
#       Starts the prefix's Wine session (a persistent wineserver; the relay
#       driver starts with the session's first program). wine_env_run does it
#       too, but call it first when programs are started in the background.
#   wine_env_stop_session
#       Ends the prefix's Wine session (its processes and the relay driver);
#       the server stops when the driver goes.
#   wine_env_cleanup
#       Ends the session, the server and the X server of this run, and
#       removes the run directory (kept when WINE_ENV_KEEP=1).
#
# Settings: WINE_ENV_BUILD (the Windows build, default build/win),
# WINE_ENV_HOST_BUILD (where scanner_server is, default build/gcc),
# WINE_ENV_TIMEOUT (per program, default 900 s), WINE_ENV_CACHE,
# WINE_ENV_KEEP. Wine runs 32-bit code; on a machine whose kernel runs only
# 64-bit programs, wine_env_setup runs it through qemu-i386 (binfmt_misc),
# fetched once from Debian 13's qemu-user (see wine_env_enable_i386).

WINE_ENV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${WINE_ENV_BUILD:=$WINE_ENV_ROOT/build/win}"
: "${WINE_ENV_HOST_BUILD:=$WINE_ENV_ROOT/build/gcc}"
: "${WINE_ENV_TIMEOUT:=900}"
: "${WINE_ENV_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/tq3480p-wine}"
WINE_ENV_RELAY_SERVICE=usbscan_relay

wine_env_log() {
    echo "wine_env: $*" >&2
}

wine_env_winpath() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

wine_env_temp_dir() {
    local temp
    temp=$(sed -n 's/^"TEMP"="\(.*\)"\r*$/\1/p' "$WINEPREFIX/user.reg" | head -1)
    temp=${temp//\\\\/\/}
    case "$temp" in
    [Cc]:/*) printf '%s/drive_c%s' "$WINEPREFIX" "${temp:2}" ;;
    *) return 1 ;;
    esac
}

WINE_ENV_CAPTURES=()
wine_env_capture_when() {
    local text=$1 log=$2 file
    file=$(realpath -m "$3")
    rm -f "$WINE_ENV_RUN/capture.stop"
    (
        until grep -qF -- "$text" "$log" 2>/dev/null; do
            [ -e "$WINE_ENV_RUN/capture.stop" ] && exit 0 # the text never came
            sleep 0.05
        done
        sleep 0.3
        import -window root "$file"
    ) >/dev/null 2>&1 &
    WINE_ENV_CAPTURES+=($!)
}

wine_env_wait_captures() {
    touch "$WINE_ENV_RUN/capture.stop"
    local pid
    for pid in "${WINE_ENV_CAPTURES[@]}"; do
        wait "$pid"
    done
    WINE_ENV_CAPTURES=()
}

# A registry string as the .reg files store it: backslashes and quotes escaped.
wine_env_reg_string() {
    local text=${1//\\/\\\\}
    printf '%s' "${text//\"/\\\"}"
}

# Where the qemu-i386 that runs Wine on a 64-bit-only kernel is kept. Debian
# 12's qemu 7.2 honours no MAP_FIXED_NOREPLACE and searches its page table
# page by page, which makes each Wine process spend a minute reserving its
# address space; qemu 10 (Debian 13's qemu-user, static) starts one in a second.
WINE_ENV_QEMU=/usr/local/lib/tq3480p/qemu-i386

# Fetches qemu-user from Debian 13 with apt under a configuration of its own,
# so that the machine's package lists never see that suite.
wine_env_fetch_qemu() {
    local work
    work=$(mktemp -d) || return 1
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/unpacked" "$work/parts"
    echo "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
        "http://deb.debian.org/debian trixie main" >"$work/sources.list"
    local apt=(-o "Dir::Etc::sourcelist=$work/sources.list" -o "Dir::Etc::sourceparts=$work/parts"
               -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
    wine_env_log "fetching qemu-user (Debian 13) for qemu-i386"
    if (cd "$work" && apt-get "${apt[@]}" -q update >"$work/apt.log" 2>&1 &&
        apt-get "${apt[@]}" -q download qemu-user >>"$work/apt.log" 2>&1 &&
        dpkg-deb -x qemu-user_*.deb unpacked) &&
        [ -x "$work/unpacked/usr/bin/qemu-i386" ]; then
        mkdir -p "$(dirname "$WINE_ENV_QEMU")"
        cp "$work/unpacked/usr/bin/qemu-i386" "$WINE_ENV_QEMU.new" &&
            mv "$WINE_ENV_QEMU.new" "$WINE_ENV_QEMU"
    else
        wine_env_log "could not fetch qemu-user:"
        tail -5 "$work/apt.log" >&2
    fi
    rm -rf "$work"
    [ -x "$WINE_ENV_QEMU" ]
}

# Makes 32-bit programs run: natively when the kernel can, else through
# qemu-i386 registered with binfmt_misc (machine-wide, until reboot). Also
# makes sure of the 64-bit wineserver, which then serves the emulated
# processes at native speed.
wine_env_enable_i386() {
    local entry=/proc/sys/fs/binfmt_misc/qemu-i386
    if [ ! -e "$entry" ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        return 0
    fi
    if [ ! -x "$WINE_ENV_QEMU" ]; then
        wine_env_fetch_qemu || return 1
    fi
    if [ ! -x /usr/lib/wine/wineserver64 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends wine64 \
            >/dev/null 2>&1 || wine_env_log "no 64-bit wineserver (apt-get install wine64)"
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
            wine_env_log "cannot mount binfmt_misc to run 32-bit programs through qemu"
            return 1
        }
    fi
    if [ -e "$entry" ] && ! grep -qx "interpreter $WINE_ENV_QEMU" "$entry"; then
        echo -1 >"$entry" 2>/dev/null # an older qemu: replaced by ours
    fi
    if [ ! -e "$entry" ]; then
        # i386 ELF executables and shared objects (ld.so is started directly too).
        local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:$WINE_ENV_QEMU:F" >/proc/sys/fs/binfmt_misc/register \
            2>/dev/null
    fi
    if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        wine_env_log "32-bit programs do not run (binfmt_misc registration refused?)"
        return 1
    fi
}

# The ready prefix of this machine's Wine, made once (under a lock) and copied per run.
wine_env_ready_prefix() {
    local version
    version=$(wine --version 2>/dev/null) || {
        wine_env_log "wine does not run"
        return 1
    }
    WINE_ENV_READY=$WINE_ENV_CACHE/${version// /_}-win32
    [ -f "$WINE_ENV_READY/ready" ] && return 0
    mkdir -p "$WINE_ENV_CACHE"
    (
        flock 9
        [ -f "$WINE_ENV_READY/ready" ] && exit 0
        local work=$WINE_ENV_READY.making
        rm -rf "$work" "$WINE_ENV_READY"
        mkdir -p "$work"
        wine_env_log "making the ready prefix $WINE_ENV_READY (once per machine; minutes under qemu)"
        local started=$SECONDS
        # wineboot's session must end before anything is installed: a
        # persistent server during creation gave two service managers.
        # wineboot's own status is not the test: on a slow machine it gives
        # up waiting while its session goes on to finish the prefix.
        WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all \
            WINEDLLOVERRIDES="mscoree,mshtml=" timeout 3000 wineboot -i \
            >"$work/wineboot.out" 2>"$work/wineboot.err"
        WINEPREFIX=$work/prefix timeout 1200 wineserver -w 2>/dev/null ||
            WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
        if [ ! -f "$work/prefix/system.reg" ] ||
            [ ! -f "$work/prefix/drive_c/windows/system32/kernel32.dll" ]; then
            wine_env_log "wineboot left no usable prefix in $work (see wineboot.err there)"
            exit 1
        fi
        mv "$work" "$WINE_ENV_READY"
        touch "$WINE_ENV_READY/ready"
        wine_env_log "ready prefix made in $((SECONDS - started)) s"
    ) 9>"$WINE_ENV_CACHE/lock"
}

wine_env_setup() {
    local display=null
    while [ $# -gt 0 ]; do
        case "$1" in
        --display) display=$2; shift 2 ;;
        *) wine_env_log "wine_env_setup: unknown argument $1"; return 2 ;;
        esac
    done
    wine_env_enable_i386 || return 1
    wine_env_ready_prefix || return 1
    WINE_ENV_RUN=$(mktemp -d "${TMPDIR:-/tmp}/tq3480p-wine.XXXXXX")
    export WINEPREFIX=$WINE_ENV_RUN/prefix
    export WINEARCH=win32
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    WINE_ENV_SERVER_LOG=$WINE_ENV_RUN/server.log
    WINE_ENV_TRANSCRIPT=$WINE_ENV_RUN/transcript.txt
    WINE_ENV_PROTOCOL_ERRORS=$WINE_ENV_RUN/protocol_errors.txt
    WINE_ENV_SERVER_PID=
    WINE_ENV_XVFB_PID=
    WINE_ENV_SESSION=0
    cp -a "$WINE_ENV_READY/prefix" "$WINEPREFIX" || return 1
    case "$display" in
    null)
        unset DISPLAY
        cat >>"$WINEPREFIX/user.reg" <<EOF

[Software\\\\Wine\\\\Drivers] $(date +%s)
"Graphics"="null"
EOF
        ;;
    xvfb)
        # No window manager runs on that server: Wine's own windows are
        # unmanaged, else each hidden or destroyed window waits two seconds
        # for a manager to withdraw it.
        cat >>"$WINEPREFIX/user.reg" <<EOF

[Software\\\\Wine\\\\X11 Driver] $(date +%s)
"Managed"="N"
EOF
        wine_env_start_xvfb || return 1 ;;
    *)
        wine_env_log "wine_env_setup: display is null or xvfb, not $display"
        return 2 ;;
    esac
}

wine_env_start_xvfb() {
    local number
    for number in $(seq 90 140); do
        [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
        Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp \
            >"$WINE_ENV_RUN/xvfb.out" 2>&1 &
        WINE_ENV_XVFB_PID=$!
        local tries
        for tries in $(seq 50); do
            if [ -e "/tmp/.X11-unix/X$number" ]; then
                export DISPLAY=":$number"
                return 0
            fi
            kill -0 "$WINE_ENV_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null
        WINE_ENV_XVFB_PID=
    done
    wine_env_log "no X server could be started (see $WINE_ENV_RUN/xvfb.out)"
    return 1
}

wine_env_start_server() {
    local timeout=$((WINE_ENV_TIMEOUT * 2))
    if [ "${1:-}" = "--connect-timeout" ]; then
        timeout=$2
        shift 2
    fi
    local server=$WINE_ENV_HOST_BUILD/scanner_server
    if [ ! -x "$server" ]; then
        wine_env_log "no $server: build the host flavour first"
        return 1
    fi
    rm -f "$WINE_ENV_RUN/server.ready"
    "$server" --requests "$WINE_ENV_RUN/requests" --answers "$WINE_ENV_RUN/answers" \
        --log "$WINE_ENV_SERVER_LOG" --transcript "$WINE_ENV_TRANSCRIPT" \
        --errors "$WINE_ENV_PROTOCOL_ERRORS" --ready "$WINE_ENV_RUN/server.ready" \
        --connect-timeout "$timeout" "$@" >"$WINE_ENV_RUN/server.out" 2>&1 &
    WINE_ENV_SERVER_PID=$!
    local tries
    for tries in $(seq 100); do
        [ -s "$WINE_ENV_RUN/server.ready" ] && return 0
        if ! kill -0 "$WINE_ENV_SERVER_PID" 2>/dev/null; then
            wine_env_log "the scanner server did not start:"
            cat "$WINE_ENV_RUN/server.out" >&2
            WINE_ENV_SERVER_PID=
            return 1
        fi
        sleep 0.05
    done
    wine_env_log "the scanner server did not open its FIFOs"
    return 1
}

wine_env_install_relay() {
    wine_env_before_session wine_env_install_relay || return 1
    local slots=${1:-15}
    local driver=$WINE_ENV_BUILD/usbscan_relay.sys
    if [ ! -f "$driver" ]; then
        wine_env_log "no $driver: build the Windows flavour first"
        return 1
    fi
    if [ ! -p "$WINE_ENV_RUN/requests" ]; then
        wine_env_log "start the scanner server before the relay is installed"
        return 1
    fi
    cp "$driver" "$WINE_ENV_RUN/usbscan_relay.sys"
    # Written into the registry file directly: no Wine session runs yet, and
    # each Wine process is costly here. Start=2 starts the driver with the
    # session, before its first program runs.
    cat >>"$WINEPREFIX/system.reg" <<EOF

[System\\\\CurrentControlSet\\\\Services\\\\$WINE_ENV_RELAY_SERVICE] $(date +%s)
"AnswerFifo"="$(wine_env_reg_string "$(wine_env_winpath "$WINE_ENV_RUN/answers")")"
"DisplayName"="usbscan relay to the scanner simulator"
"ErrorControl"=dword:00000001
"ImagePath"=str(2):"$(wine_env_reg_string "$(wine_env_winpath "$WINE_ENV_RUN/usbscan_relay.sys")")"
"RequestFifo"="$(wine_env_reg_string "$(wine_env_winpath "$WINE_ENV_RUN/requests")")"
"Slots"=dword:$(printf '%08x' "$slots")
"Start"=dword:00000002
"Type"=dword:00000001
EOF
}

wine_env_install_source() {
    local source=${1:-$WINE_ENV_BUILD/Tq3480P.ds}
    if [ ! -f "$source" ]; then
        wine_env_log "no data source $source"
        return 1
    fi
    local twain=$WINEPREFIX/drive_c/windows/twain_32
    mkdir -p "$twain/Tq3480P"
    cp "$source" "$twain/sane.ds"
    cp "$source" "$twain/Tq3480P/Tq3480P.ds"
}

wine_env_run() {
    local timeout=$WINE_ENV_TIMEOUT
    if [ "${1:-}" = "--timeout" ]; then
        timeout=$2
        shift 2
    fi
    local name=$1
    shift
    wine_env_start_session || return 1
    local status=0
    timeout --kill-after=10 "$timeout" wine "$@" \
        >"$WINE_ENV_RUN/$name.out" 2>"$WINE_ENV_RUN/$name.err" </dev/null || status=$?
    [ "$status" -eq 124 ] && wine_env_log "$name: no end within $timeout s"
    return "$status"
}

wine_env_wait_log() {
    local pattern=$1
    local seconds=${2:-$WINE_ENV_TIMEOUT}
    local watched=${3:-}
    local deadline=$((SECONDS + seconds))
    while [ "$SECONDS" -lt "$deadline" ]; do
        grep -qF -- "$pattern" "$WINE_ENV_SERVER_LOG" 2>/dev/null && return 0
        # Nothing more will come once the server or the watched process has ended.
        if { [ -n "$WINE_ENV_SERVER_PID" ] && ! kill -0 "$WINE_ENV_SERVER_PID" 2>/dev/null; } ||
            { [ -n "$watched" ] && ! kill -0 "$watched" 2>/dev/null; }; then
            grep -qF -- "$pattern" "$WINE_ENV_SERVER_LOG" 2>/dev/null
            return
        fi
        sleep 0.1
    done
    return 1
}

# A persistent wineserver keeps the session, and the relay driver with it,
# from ending between two programs. The registry files are read when it
# starts: everything written into them comes before.
# The socket of the prefix's wineserver while one runs.
wine_env_server_socket() {
    printf '/tmp/.wine-%d/server-%x-%x/socket' "$(id -u)" \
        "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")"
}

wine_env_start_session() {
    [ "${WINE_ENV_SESSION:-0}" = 1 ] && return 0
    # A program started in the background started it already.
    if [ -S "$(wine_env_server_socket)" ]; then
        WINE_ENV_SESSION=1
        return 0
    fi
    if ! wineserver -p 2>"$WINE_ENV_RUN/wineserver.err"; then
        wine_env_log "wineserver -p failed: $(cat "$WINE_ENV_RUN/wineserver.err")"
        return 1
    fi
    WINE_ENV_SESSION=1
}

wine_env_before_session() {
    if [ "${WINE_ENV_SESSION:-0}" = 1 ]; then
        wine_env_log "$1 must come before the first wine_env_run"
        return 1
    fi
}

wine_env_stop_session() {
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
    WINE_ENV_SESSION=0
    wineserver -k 2>/dev/null
    # wineserver -k returns before the processes are gone.
    timeout 60 wineserver -w 2>/dev/null
    return 0
}

wine_env_stop_server() {
    [ -n "$WINE_ENV_SERVER_PID" ] || return 0
    local tries
    for tries in $(seq 50); do
        kill -0 "$WINE_ENV_SERVER_PID" 2>/dev/null || break
        sleep 0.1
    done
    WINE_ENV_SERVER_SIGNALLED=0
    if kill -0 "$WINE_ENV_SERVER_PID" 2>/dev/null; then
        WINE_ENV_SERVER_SIGNALLED=1
        kill -TERM "$WINE_ENV_SERVER_PID" 2>/dev/null
    fi
    wait "$WINE_ENV_SERVER_PID" 2>/dev/null
    WINE_ENV_SERVER_STATUS=$?
    WINE_ENV_SERVER_PID=
}

wine_env_cleanup() {
    [ -n "${WINE_ENV_RUN:-}" ] || return 0
    wine_env_stop_session
    wine_env_stop_server
    if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null
        WINE_ENV_XVFB_PID=
    fi
    if [ "${WINE_ENV_KEEP:-0}" = 1 ]; then
        wine_env_log "kept $WINE_ENV_RUN"
    else
        rm -rf "$WINE_ENV_RUN"
    fi
    WINE_ENV_RUN=
}
