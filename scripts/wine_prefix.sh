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
    wineboot -i >"$WINE_RUN_DIR/wineboot.log" 2>&1
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
