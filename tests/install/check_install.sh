#!/usr/bin/env bash
# Installs the build into temporary prefixes and checks what a desktop finds
# there: the files in their places, a valid menu entry, the preset file's type
# and the program that opens it, and a preset opened as a double-click opens
# it, from an unrelated folder with the prefix's bin not on the PATH, loading
# it and showing its help. The uninstall then leaves the prefix, where another
# program was installed before, as it was; a prefix that was not there, after
# one install or two, is gone again, caches and all, and one where another
# program came after Zelvo keeps that program's files and types. A prefix full
# of characters that a menu entry must quote is opened the same way, and a
# staged install (DESTDIR) names the configured prefix in its menu entry and
# is uninstalled with the same DESTDIR.
# check_install.sh CMAKE BUILD_DIR PROBE_PLUGIN_DIR MAKE_PRESET CONFIGURED_PREFIX
set -euo pipefail
cmake=$1 build=$2 plugins=$3 make_preset=$4 configured_prefix=$5

work=$(mktemp -d)
# The build's record of the user's own install must outlive the test's installs.
records=(install_manifest.txt install_folders.txt)
mkdir "$work/records"
for r in "${records[@]}"; do
    [ ! -e "$build/$r" ] || cp -p "$build/$r" "$work/records/"
done
restore() {
    for r in "${records[@]}"; do
        if [ -e "$work/records/$r" ]; then cp -p "$work/records/$r" "$build/$r"; else rm -f "$build/$r"; fi
    done
    rm -rf "$work"
}
trap restore EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$work/presets" "$work/home" "$work/config" "$work/data" "$work/elsewhere"
mkdir -m 700 "$work/runtime"
preset=$work/presets/tones.zvo
names=("Install check A" "Install check B" "Install check C" "Install check D")
"$make_preset" "$preset" "${names[@]}"

install_into() {
    "$cmake" --install "$build" --prefix "$1" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; fail "cmake --install --prefix $1"; }
}

# A desktop session that knows only the prefix's data (X-Generic: no
# desktop-specific lookup) and nothing of the caller's environment; its PATH
# is the system's. A sanitized build's program keeps its sanitizers' options.
sanitizer_options=()
for option in ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS LSAN_OPTIONS; do
    [ -z "${!option:-}" ] || sanitizer_options+=("$option=${!option}")
done
in_desktop() {
    local prefix=$1
    shift
    env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
        XDG_DATA_HOME="$work/data" XDG_DATA_DIRS="$prefix/share" XDG_RUNTIME_DIR="$work/runtime" \
        XDG_CURRENT_DESKTOP=X-Generic "${sanitizer_options[@]}" "$@"
}

# The words of the menu entry's Exec line for one file, one a line, as the
# desktop-entry rules read them (the parser mimeopen uses).
exec_words() {
    perl -MFile::DesktopEntry -e 'print "$_\n" for File::DesktopEntry->new($ARGV[0])->parse_Exec("FILE")' "$1"
}

check_entry() {
    local entry=$1 program=$2
    local out
    out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
    [ "$(exec_words "$entry")" = "$program"$'\n'FILE ] ||
        fail "the menu entry starts '$(exec_words "$entry" | tr '\n' ' ')', not $program"
}

# A double-click on the preset: mimeopen takes its type and program from the
# prefix's databases and starts the menu entry's Exec line.
open_preset() {
    local prefix=$1 status=0
    (cd "$work/elsewhere" &&
        in_desktop "$prefix" QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=zelvoprobe \
            timeout 30 mimeopen -n "$preset") >"$work/report" 2>"$work/stderr" || status=$?
    local report
    report=$(cat "$work/report")
    echo "$report"
    [ "$status" -eq 0 ] || { cat "$work/stderr"; fail "opening the preset ended with $status"; }
    for name in "${names[@]}"; do
        grep -qxF "button: $name" <<<"$report" || fail "the memories do not come from the preset: no '$name'"
    done
    local help
    help=$(realpath "$prefix/share/zelvo/zvo.chm")
    grep -qxF "help file: $help" <<<"$report" || fail "help does not come from $help"
    grep -qxF "help topic: /main_window.htm" <<<"$report" || fail "help shows no page of the main window"
    # Without a sound card the program says so; any other box is a fault.
    local boxes
    boxes=$(grep '^box: ' <<<"$report" | grep -vxF 'box: No Soundcard driver found. No sound output possible.' || true)
    [ -z "$boxes" ] || fail "unexpected message: $boxes"
}

uninstall() {
    "$cmake" --build "$build" --target uninstall >"$work/uninstall.log" 2>&1 ||
        { cat "$work/uninstall.log"; fail "the uninstall target"; }
}

preset_type() {
    in_desktop "$1" xdg-mime query filetype "$preset"
}

# Every folder and file, with the files' contents.
tree_of() {
    (cd "$1" && find . -printf '%y %p\n' | sort && find . -type f -exec sha256sum {} + | sort -k2)
}

# Another program's files, type and menu entry, with the databases refreshed.
add_other_program() {
    local prefix=$1
    mkdir -p "$prefix/bin" "$prefix/share/applications" "$prefix/share/mime/packages"
    printf '#!/bin/sh\n' >"$prefix/bin/othertone"
    chmod +x "$prefix/bin/othertone"
    printf '[Desktop Entry]\nType=Application\nName=Other Tone\nExec=%s %%f\nMimeType=application/x-othertone;\n' \
        "$prefix/bin/othertone" >"$prefix/share/applications/othertone.desktop"
    cat >"$prefix/share/mime/packages/othertone.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-othertone"><glob pattern="*.otone"/></mime-type>
</mime-info>
EOF
    update-mime-database "$prefix/share/mime" 2>/dev/null
    update-desktop-database "$prefix/share/applications"
}

# ... and an empty icon folder.
prefix=$work/prefix
add_other_program "$prefix"
mkdir -p "$prefix/share/icons/hicolor/48x48/apps"
before=$(tree_of "$prefix")

install_into "$prefix"

# The files where the desktop looks for them.
[ -x "$prefix/bin/zelvo" ] || fail "no program bin/zelvo"
for f in share/zelvo/zvo.chm share/applications/zelvo.desktop share/mime/packages/zelvo.xml; do
    [ -s "$prefix/$f" ] || fail "no $f"
done
for n in 32 48 64 128 256; do
    icon=$prefix/share/icons/hicolor/${n}x${n}/apps/zelvo.png
    [ -s "$icon" ] || fail "no icon of $n px"
    # width and height from the PNG header
    size=$(od -An -tu4 --endian=big -j16 -N8 "$icon" | awk '{print $1 "x" $2}')
    [ "$size" = "${n}x${n}" ] || fail "the $n px icon is $size"
done
check_entry "$prefix/share/applications/zelvo.desktop" "$prefix/bin/zelvo"

# The preset type and its program, as the desktop's tools see them.
type=$(preset_type "$prefix")
[ "$type" = application/x-zelvo-preset ] || fail "xdg-mime: a .zvo file is of type '$type'"
opener=$(in_desktop "$prefix" xdg-mime query default application/x-zelvo-preset)
[ "$opener" = zelvo.desktop ] || fail "xdg-mime: a preset opens with '$opener'"
open_preset "$prefix"

uninstall
after=$(tree_of "$prefix")
[ "$after" = "$before" ] || fail "the uninstall leaves the prefix changed:
$(diff <(echo "$before") <(echo "$after"))"
[ "$(preset_type "$prefix")" != application/x-zelvo-preset ] || fail "after the uninstall a .zvo file is still a preset"

# A prefix that was not there: the install makes its folders and the
# databases' caches in them, and the uninstall takes them all, also after a
# reinstall, which finds those folders already made.
for installs in 1 2; do
    fresh=$work/fresh-$installs
    for ((i = 0; i < installs; i++)); do install_into "$fresh"; done
    [ "$(preset_type "$fresh")" = application/x-zelvo-preset ] || fail "no preset type in $fresh"
    uninstall
    [ ! -e "$fresh" ] || fail "after $installs install(s) the uninstall leaves:
$(cd "$fresh" && find . | sort)"
done

# Another program put into the folders that Zelvo's install made keeps its
# files and its types; only the folders that Zelvo alone used go.
later=$work/later
install_into "$later"
add_other_program "$later"
uninstall
# (the MIME database's own files aside)
left=$(cd "$later" && find . \( -type d -o ! -regex '\./share/mime/[^/]*' \) | sort)
expected=$(printf '%s\n' . ./bin ./bin/othertone ./share ./share/applications ./share/applications/mimeinfo.cache \
    ./share/applications/othertone.desktop ./share/mime ./share/mime/application \
    ./share/mime/application/x-othertone.xml ./share/mime/packages ./share/mime/packages/othertone.xml)
[ "$left" = "$expected" ] || fail "the uninstall leaves beside the other program:
$(diff <(echo "$expected") <(echo "$left"))"
printf 'x' >"$work/elsewhere/tune.otone"
type=$(in_desktop "$later" xdg-mime query filetype "$work/elsewhere/tune.otone")
[ "$type" = application/x-othertone ] || fail "after the uninstall the other program's file is of type '$type'"
opener=$(in_desktop "$later" xdg-mime query default application/x-othertone)
[ "$opener" = othertone.desktop ] || fail "after the uninstall the other program's type opens with '$opener'"
[ "$(preset_type "$later")" != application/x-zelvo-preset ] || fail "after the uninstall a .zvo file is still a preset"

# Every character that the Exec line must quote or escape (CMake itself takes
# no backslash in a prefix).
odd=$work/'Tone "box" $HOME 50% `x` it'\''s (1) & <more>; ~ * ? # |'
install_into "$odd"
check_entry "$odd/share/applications/zelvo.desktop" "$odd/bin/zelvo"
open_preset "$odd"

# Staged for a package: the entry names the configured prefix, not the stage.
# Twice, as a rebuilt package would be, then uninstalled from the same stage.
for i in 1 2; do
    DESTDIR=$work/stage "$cmake" --install "$build" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; fail "cmake --install with DESTDIR"; }
done
check_entry "$work/stage$configured_prefix/share/applications/zelvo.desktop" "$configured_prefix/bin/zelvo"
DESTDIR=$work/stage uninstall
[ ! -e "$work/stage" ] || fail "the uninstall with DESTDIR leaves:
$(cd "$work/stage" && find . | sort)"
echo "installed into $prefix, $odd and $work/stage$configured_prefix and checked, and uninstalled"
