#!/usr/bin/env bash
# Builds the Debian package in build/release and checks what it installs, without installing it on
# this machine: the package is unpacked into a throwaway root (dpkg -x) and its programs run from
# there against the system's libraries. Every check runs even when an earlier one failed; the
# script lists the failures at the end and exits 1 if there were any.
# Needs the tools scripts/bootstrap.sh installs (lintian, desktop-file-utils, appstream, help2man,
# man-db, xvfb, xdotool, bash-completion).
set -uo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
log=$work/log
failures=()

pass() { echo "ok    $1"; }
fail()
{
    echo "FAIL  $1" >&2
    [ -s "$log" ] && sed 's/^/      /' "$log" >&2
    failures+=("$1")
}
# check DESCRIPTION COMMAND...: passes when COMMAND succeeds; its output is shown only on failure.
check()
{
    local what=$1
    shift
    if "$@" >"$log" 2>&1; then pass "$what"; else fail "$what"; fi
}

echo "== package build"
rm -f build/release/tessaline_*.deb
cmake --preset release >/dev/null || exit 1
cmake --build --preset release --target package -j "$(nproc)" >"$log" 2>&1 || { fail "package build"; exit 1; }
debs=(build/release/tessaline_*.deb)
[ -f "${debs[0]}" ] || { fail "package build: no build/release/tessaline_*.deb"; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb"
dpkg -x "$deb" "$root"

echo "== contents"
app_id=io.github.tessaline.Tessaline
expected=(
    usr/bin/tessaline usr/bin/tessaline-cli usr/lib/tessaline/modules/tessaline-bitmaps.so
    usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/$app_id.svg
    usr/share/man/man1/tessaline.1.gz usr/share/man/man1/tessaline-cli.1.gz
    usr/share/bash-completion/completions/tessaline-cli
    usr/share/doc/tessaline/copyright usr/share/doc/tessaline/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=(usr/share/icons/hicolor/${size}x$size/apps/$app_id.png)
done
missing=()
for path in "${expected[@]}"; do
    [ -f "$root/$path" ] || missing+=("$path")
done
: >"$log"
if [ ${#missing[@]} -eq 0 ]; then pass "every expected file is in the package"; else
    printf '%s\n' "${missing[@]}" >"$log"
    fail "files missing from the package"
fi
depends=$(dpkg-deb -f "$deb" Depends)
check "dependencies found by dpkg-shlibdeps ($depends)" \
    bash -c '[[ $1 == *libqt6widgets6* && $1 == *libpng16-16* && $1 == *libgomp1* ]]' _ "$depends"
check "lintian: no errors or warnings" lintian --fail-on error,warning "$deb"

echo "== programs"
bin=$root/usr/bin
check "tessaline-cli --version prints $version" \
    bash -c '[ "$("$1" --version)" = "tessaline-cli $2" ]' _ "$bin/tessaline-cli" "$version"
# An end-to-end run on a picture the package itself carries: its 64-pixel icon.
check "tessaline-cli reduces an image to a palette PNG" \
    bash -c '"$1" --quiet --colours 16 -o "$3/reduced.png" "$2" &&
             [ "$(od -An -tu1 -j25 -N1 "$3/reduced.png" | tr -d " ")" = 3 ]' \
    _ "$bin/tessaline-cli" "$root/usr/share/icons/hicolor/64x64/apps/$app_id.png" "$work"
# A file that is not a PNG goes through the bitmap module the package installs beside the
# program's libraries: a 4 x 4 BMP of sixteen colours, written here byte by byte.
bmp()
{
    printf 'BM\x66\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x04\0\0\0\x04\0\0\0\x01\0\x18\0'
    printf '\0\0\0\0\x30\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0'
    printf '\x00\xff\x00\x10\xef\x05\x20\xdf\x0a\x30\xcf\x0f\x40\xbf\x14\x50\xaf\x19\x60\x9f\x1e\x70\x8f\x23'
    printf '\x80\x7f\x28\x90\x6f\x2d\xa0\x5f\x32\xb0\x4f\x37\xc0\x3f\x3c\xd0\x2f\x41\xe0\x1f\x46\xf0\x0f\x4b'
}
bmp >"$work/sixteen.bmp"
check "tessaline-cli reads a BMP through its bitmap module" \
    bash -c '"$1" --quiet -o "$3/from-bmp.png" "$2" &&
             [ "$(od -An -tu1 -j25 -N1 "$3/from-bmp.png" | tr -d " ")" = 3 ]' \
    _ "$bin/tessaline-cli" "$work/sixteen.bmp" "$work"
# The window's own options print and exit without a display.
window_version_check()
{
    local printed status
    printed=$(QT_QPA_PLATFORM=offscreen timeout 30 "$bin/tessaline" --version 2>/dev/null)
    status=$?
    if [ $status -eq 124 ]; then
        echo "tessaline --version opened the window instead of printing its version:"
        echo "this build of the window does not take command-line options (--help, --version, FILE...)."
        return 1
    fi
    [ $status -eq 0 ] && [[ $printed == *"$version"* ]] ||
        { echo "exit status $status, printed: $printed"; return 1; }
}
check "tessaline --version prints $version and exits" window_version_check
# The window opens an image given as an argument (as the menu entry's %F passes it) under Xvfb:
# the check waits for its window to be mapped, then ends the process it started.
window_check()
{
    xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" bash -c '
        "$1" "$2" & pid=$!
        timeout 60 xdotool search --sync --onlyvisible --name Tessaline >/dev/null
        found=$?
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        exit $found' _ "$bin/tessaline" "$root/usr/share/icons/hicolor/256x256/apps/$app_id.png"
}
check "tessaline FILE shows its window under Xvfb" window_check

echo "== desktop entry, metainfo, manual pages"
desktop=$root/usr/share/applications/$app_id.desktop
check "desktop-file-validate $app_id.desktop" desktop-file-validate "$desktop"
check "the desktop entry starts 'tessaline %F' with an icon the package installs" \
    bash -c 'grep -qx "Exec=tessaline %F" "$1" &&
             icon=$(sed -n "s/^Icon=//p" "$1") && [ -f "$2/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]' \
    _ "$desktop" "$root"
check "appstreamcli validate --no-net $app_id.metainfo.xml" \
    appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
for page in tessaline tessaline-cli; do
    check "man -l renders $page.1 without warnings" bash -c '
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >"$2") &&
        [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
        grep -q "^SYNOPSIS" "$2"' _ "$root/usr/share/man/man1/$page.1.gz" "$work/$page.txt"
done
# The page is generated from --help, so every option the tool lists must be on it.
check "tessaline-cli.1 describes every option of tessaline-cli --help" bash -c '
    for option in $("$1" --help | grep -oE "^ +(-[a-z], )?--[a-z0-9-]+" | grep -oE -- "--[a-z0-9-]+"); do
        grep -qF -- "$option" "$2" || { echo "not on the page: $option"; exit 1; }
    done' _ "$bin/tessaline-cli" "$work/tessaline-cli.txt"

echo "== bash completion"
# Completes as bash does on a command line, with the completion the package installs.
completion_check()
{
    mkdir -p "$work/completion/folder"
    : >"$work/completion/photo.png"
    : >"$work/completion/notes.txt"
    : >"$work/completion/run.jsonl"
    PATH=$bin:$PATH bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        cd "$2"
        complete_words() {
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            COMPREPLY=(); _tessaline_cli tessaline-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
            [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
        }
        expect() { # WANTED WORDS...
            local wanted=$1; shift
            local got; got=$(complete_words "$@")
            [ "$got" = "$wanted" ] || { echo "$*<TAB>: got \"$got\", wanted \"$wanted\""; status=1; }
        }
        status=0
        expect "--colours --compression --convergence " tessaline-cli --co
        expect "folder " tessaline-cli --output-dir ""
        expect "auto " tessaline-cli --colours ""
        expect "folder photo.png " tessaline-cli --quiet ""
        expect "folder run.jsonl " tessaline-cli --report ""
        expect "balanced best default fast " tessaline-cli --preset ""
        expect "default perceptual " tessaline-cli --tune ""
        expect "default max " tessaline-cli --compression ""
        expect "perceptual " tessaline-cli --tune p
        all=$(tessaline-cli --help | grep -oE "^ +(-[a-z], )?--[a-z0-9-]+" | grep -oE -- "--[a-z0-9-]+" | sort | tr "\n" " ")
        [ "$(complete_words tessaline-cli --)" = "$all" ] || { echo "tessaline-cli --<TAB> does not list every option"; status=1; }
        exit $status' _ "$root/usr/share/bash-completion/completions/tessaline-cli" "$work/completion"
}
check "bash completion offers the options of --help, folders for DIR, images for files, reports for --report and the names of --preset, --tune, --compression and --colours" completion_check

echo
if [ ${#failures[@]} -ne 0 ]; then
    echo "package check: ${#failures[@]} failed:" >&2
    printf '  %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "package check: all passed ($deb)"
