#!/usr/bin/env bash
# Provides Wine 10 on a Debian 12 host: a Debian 13 root built once with mmdebstrap and
# cached outside the repository, plus a ready Wine prefix inside that cache.
#
#   tools/wine-root.sh setup        build the root and prefix if missing (safe to run twice at once)
#   tools/wine-root.sh run CMD...   run CMD inside the root, with the current directory as /job
#   tools/wine-root.sh wine ARGS... run wine ARGS in the current directory, from the root or
#                                   from $HOTFX_WINE
#
# HOTFX_PROGRAM=/path/to/hotfx.exe shows that file inside the root, read-only, as
# /tmp/hotfx/hotfx.exe, so that a folder can be worked in without a copy of the program.
# HOTFX_SHADERS=/path/to/folder shows that folder there, read-only, as /tmp/hotfx/shaders, where
# the links of a folder of view.sh's own lead (tools/host-packages.sh's shader_folder).
# HOTFX_D3D9 picks the Direct3D 9 implementation: wined3d (the default, Wine's own, over
# OpenGL) or dxvk (DXVK, over Vulkan); each has a prefix of its own in the cache, and runs on
# both may go at once. HOTFX_CACHE picks the cache folder. HOTFX_WINE=/path/to/wine uses a
# Wine (9 or newer) that is already installed instead of the root, with wined3d only; `run`
# then runs CMD on the host as it is.
# Every call into the root starts its own wineserver on its own copy of the prefix, so
# Wine programs may run side by side.
set -euo pipefail

cache=${HOTFX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/hotfx}
# The root also holds DXVK and Mesa's Vulkan driver, a second Direct3D 9 implementation.
root=$cache/wine10-dxvk-root
wined3d_prefix=$cache/wine10-prefix
dxvk_prefix=$cache/wine10-prefix-dxvk
case ${HOTFX_D3D9:=wined3d} in
    wined3d) prefix=$wined3d_prefix ;;
    dxvk)    prefix=$dxvk_prefix ;;
    *)       echo "wine-root: HOTFX_D3D9 must be wined3d or dxvk, not '$HOTFX_D3D9'" >&2; exit 2 ;;
esac
packages=wine,wine32:i386,libgl1:i386,libglx-mesa0:i386,libgl1-mesa-dri:i386
packages+=,dxvk,dxvk-wine32,mesa-vulkan-drivers:i386,libvulkan1:i386

need_host_tools() {
    local missing=()
    [ -d "$root" ] || command -v mmdebstrap >/dev/null || missing+=(mmdebstrap)
    command -v bwrap >/dev/null || missing+=(bubblewrap)
    [ ${#missing[@]} -eq 0 ] && return
    [ "$(id -u)" -eq 0 ] || { echo "wine-root: please install ${missing[*]}" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2
}

# Each call gets a prefix of its own, so runs side by side never share a registry. Wine
# rewrites its registry and ini files in place, so those are copied; everything else, which
# it never writes, is shared with the cached prefix by hard links. A folder is named after
# the process that uses it, so one left behind by a killed run is removed by the next.
own_prefix() {
    mkdir -p "$cache/runs"
    local old
    for old in "$cache"/runs/prefix.*; do
        [ -e "$old" ] || continue
        kill -0 "${old##*.}" 2>/dev/null || rm -rf "$old"
    done
    local own=$cache/runs/prefix.$$
    rm -rf "$own"
    cp -al "$prefix" "$own"
    find "$own" -type f \( -name '*.reg' -o -iname '*.ini' \) -print0 |
        while IFS= read -r -d '' file; do cp -p "$file" "$file.own" && mv "$file.own" "$file"; done
    echo "$own"
}

enter() {
    # The root's /tmp is private to each call, so two runs never share a wineserver;
    # the X socket folder comes from the host, where Xvfb runs. A private XDG_RUNTIME_DIR
    # keeps libraries in the root from complaining that the host's is missing or not ours.
    # Wine in the root crashed at start whenever TMPDIR was set (to a folder of the host's,
    # and to /tmp alike), so it runs without.
    local status=0
    run_prefix=$(own_prefix)
    trap 'rm -rf "$run_prefix"' EXIT
    trap 'exit 143' TERM INT HUP
    # DXVK writes its log, and its pipeline cache, into the current folder unless told
    # otherwise, and that is the user's shader folder: the root's private /tmp takes them.
    local args=(--bind "$root" / --proc /proc --dev /dev --tmpfs /tmp
                --bind "$run_prefix" /root/.wine --bind "$PWD" /job --chdir /job
                --setenv HOME /root --setenv WINEPREFIX /root/.wine
                --setenv DXVK_LOG_PATH /tmp --setenv DXVK_STATE_CACHE_PATH /tmp
                --perms 0700 --dir /tmp/xdg --setenv XDG_RUNTIME_DIR /tmp/xdg --unsetenv TMPDIR
                --setenv DISPLAY "${DISPLAY:-:99}" --unshare-pid --die-with-parent)
    [ -d /tmp/.X11-unix ] && args+=(--bind /tmp/.X11-unix /tmp/.X11-unix)
    [ -z "${HOTFX_PROGRAM:-}" ] || args+=(--ro-bind "$HOTFX_PROGRAM" /tmp/hotfx/hotfx.exe)
    [ -z "${HOTFX_SHADERS:-}" ] || args+=(--ro-bind "$HOTFX_SHADERS" /tmp/hotfx/shaders)
    # The host's sound server, for a program that captures sound (view.sh --sound-in).
    [ -z "${HOTFX_PULSE:-}" ] || args+=(--bind "$HOTFX_PULSE" /tmp/pulse/native --setenv PULSE_SERVER unix:/tmp/pulse/native)
    bwrap "${args[@]}" "$@" || status=$?
    return $status
}

build_root() {
    local tmp=$cache/wine10-dxvk-root.partial
    rm -rf "$tmp"
    echo "wine-root: building the Debian 13 root for Wine 10 in $root (takes a minute or two)" >&2
    mmdebstrap --quiet --variant=apt --architectures=amd64,i386 --include="$packages" \
        trixie "$tmp" http://deb.debian.org/debian >&2
    mv "$tmp" "$root"
}

in_prefix() {
    local folder=$1; shift
    bwrap --bind "$root" / --proc /proc --dev /dev --tmpfs /tmp --bind "$folder" /root/.wine \
        --setenv HOME /root --setenv WINEPREFIX /root/.wine --setenv WINEDEBUG -all \
        --perms 0700 --dir /tmp/xdg --setenv XDG_RUNTIME_DIR /tmp/xdg \
        --setenv WINEDLLOVERRIDES 'mscoree,mshtml=' --unshare-pid --die-with-parent \
        sh -c "$*" >&2
}

build_prefix() {
    local tmp=$wined3d_prefix.partial
    rm -rf "$tmp"; mkdir -p "$tmp"
    echo "wine-root: creating the Wine prefix" >&2
    in_prefix "$tmp" 'wineboot -i && wineserver -w'
    mv "$tmp" "$wined3d_prefix"
}

# The same prefix with d3d9.dll and its kin linked to DXVK's and set to load as native.
build_dxvk_prefix() {
    local tmp=$dxvk_prefix.partial
    rm -rf "$tmp"
    echo "wine-root: creating the Wine prefix that uses DXVK" >&2
    cp -a "$wined3d_prefix" "$tmp"
    # dxvk-setup's probing of the prefix prints warnings that mean nothing here; its output
    # is shown only when it fails.
    in_prefix "$tmp" 'out=$(dxvk-setup install -y --stable 2>&1) || { echo "$out"; exit 1; }; wineserver -w'
    mv "$tmp" "$dxvk_prefix"
}

check_own_wine() {
    local version
    version=$("$HOTFX_WINE" --version 2>/dev/null) ||
        { echo "wine-root: HOTFX_WINE=$HOTFX_WINE does not run" >&2; exit 1; }
    # Older Wines compile only a sliver of shader model 3 HLSL.
    case $version in
        wine-[0-8].*) echo "wine-root: $version is too old for hotfx, Wine 9 or newer is needed" >&2; exit 1 ;;
    esac
}

setup() {
    if [ -n "${HOTFX_WINE:-}" ]; then
        [ "$HOTFX_D3D9" = wined3d ] ||
            { echo "wine-root: HOTFX_D3D9=$HOTFX_D3D9 needs the Wine root; unset HOTFX_WINE" >&2; exit 2; }
        check_own_wine; return
    fi
    need_host_tools
    [ -d "$root" ] && [ -d "$prefix" ] && return
    mkdir -p "$cache"
    exec 9>"$cache/lock"
    flock 9
    [ -d "$root" ] || build_root
    [ -d "$wined3d_prefix" ] || build_prefix
    [ "$prefix" != "$dxvk_prefix" ] || [ -d "$dxvk_prefix" ] || build_dxvk_prefix
}

case "${1:-}" in
    setup) setup ;;
    run)   shift; setup; if [ -n "${HOTFX_WINE:-}" ]; then exec "$@"; else enter "$@"; exit; fi ;;
    wine)  shift; setup; if [ -n "${HOTFX_WINE:-}" ]; then exec "$HOTFX_WINE" "$@"; else enter wine "$@"; exit; fi ;;
    *)     echo "usage: $0 setup | run CMD... | wine ARGS..." >&2; exit 2 ;;
esac
