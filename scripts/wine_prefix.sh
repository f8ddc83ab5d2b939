# Sourced by the scripts that run the DLL under Wine: a fresh private 32-bit
# prefix per run, ended (that prefix's server only) when the script exits.
# Wine's output always goes to files: a pipe would be inherited by the
# processes Wine starts in the background and never close.

wine_prefix_create() {
    WINE_RUN_DIR=$(mktemp -d)
    export WINEPREFIX="$WINE_RUN_DIR/prefix"
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    trap wine_prefix_end EXIT
    if ! timeout 2400 wineboot -i >"$WINE_RUN_DIR/wineboot.log" 2>&1; then
        echo "wineboot failed:" >&2
        cat "$WINE_RUN_DIR/wineboot.log" >&2
        return 1
    fi
    # The session that made the prefix ends before anything runs in it.
    timeout 600 wineserver -w >/dev/null 2>&1 || wineserver -k >/dev/null 2>&1 || true
}

wine_prefix_end() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    [ -n "${WINE_RUN_DIR:-}" ] && rm -rf "$WINE_RUN_DIR"
}

# Installs the data source as an installation does: under the twain_32 folder
# of the Windows directory. Prints the Windows path of the installed file.
wine_install_source() {
    local built=$1
    mkdir -p "$WINEPREFIX/drive_c/windows/twain_32/Tq3480P"
    cp "$built" "$WINEPREFIX/drive_c/windows/twain_32/Tq3480P/Tq3480P.ds"
    echo 'C:\windows\twain_32\Tq3480P\Tq3480P.ds'
}

# A Unix path as Wine sees it through its Z: drive.
wine_path() {
    local absolute
    absolute=$(readlink -f "$1")
    echo "Z:${absolute//\//\\}"
}

# Wine runs the 32-bit data source where the kernel runs 32-bit x86 code, or
# where binfmt_misc hands 32-bit programs to qemu-user (virtual machines
# without IA32 emulation); there each Wine process starts slowly, and a fresh
# prefix takes several minutes. The probe makes one 32-bit system call from a
# 64-bit program.
wine_kernel_runs_32bit() {
    [ "$(uname -m)" = x86_64 ] || return 1
    local probe_dir status=0
    probe_dir=$(mktemp -d)
    printf '%s\n' 'int main(void) { long r; __asm__ volatile("int $0x80" : "=a"(r) : "a"(20L)); return r > 0 ? 0 : 1; }' \
        >"$probe_dir/probe.c"
    if cc -o "$probe_dir/probe" "$probe_dir/probe.c" 2>/dev/null; then
        { "$probe_dir/probe"; } >/dev/null 2>&1 || status=1
    else
        status=1
    fi
    rm -rf "$probe_dir"
    return "$status"
}

# Ends a Wine check early when the machine cannot run 32-bit programs at all:
# a skip (status 77) that scripts/test.sh reports, or a failure with
# TQ_REQUIRE_WINE=1.
wine_require_machine() {
    wine_kernel_runs_32bit && return 0
    if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        echo "note: 32-bit programs run through qemu-user here; Wine is slow (minutes)"
        return 0
    fi
    echo "SKIP: this machine runs no 32-bit x86 programs (no IA32 emulation in the kernel," \
        "no qemu-user for i386); Wine cannot run Tq3480P.ds here"
    if [ "${TQ_REQUIRE_WINE:-0}" = 1 ]; then
        exit 1
    fi
    exit 77
}
