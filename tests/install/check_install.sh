#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop finds
# there: the files in their places, a valid menu entry, the preset file's type
# and the program that opens it, and the installed program started on a preset
# from an unrelated folder, loading it and showing its help.
# check_install.sh CMAKE BUILD_DIR PROBE_PLUGIN_DIR MAKE_PRESET
set -euo pipefail
cmake=$1 build=$2 plugins=$3 make_preset=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install"; }

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

out=$(desktop-file-validate "$prefix/share/applications/zelvo.desktop" 2>&1) && [ -z "$out" ] ||
    fail "desktop-file-validate: $out"

# The preset type and its program, as the desktop's tools see them with only
# the prefix's data (X-Generic: no desktop-specific lookup).
update-mime-database "$prefix/share/mime" 2>/dev/null
mkdir "$work/presets" "$work/home" "$work/config" "$work/data" "$work/elsewhere"
mkdir -m 700 "$work/runtime"
preset=$work/presets/tones.zvo
names=("Install check A" "Install check B" "Install check C" "Install check D")
"$make_preset" "$preset" "${names[@]}"
desktop_env=(env HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
             XDG_DATA_DIRS="$prefix/share" XDG_RUNTIME_DIR="$work/runtime" XDG_CURRENT_DESKTOP=X-Generic)
type=$("${desktop_env[@]}" xdg-mime query filetype "$preset")
[ "$type" = application/x-zelvo-preset ] || fail "xdg-mime: a .zvo file is of type '$type'"
opener=$("${desktop_env[@]}" xdg-mime query default application/x-zelvo-preset)
[ "$opener" = zelvo.desktop ] || fail "xdg-mime: a preset opens with '$opener'"

# The installed program, started the way the menu entry starts it, from a
# folder that has nothing of the build in it.
status=0
(cd "$work/elsewhere" &&
    "${desktop_env[@]}" QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=zelvoprobe \
        timeout 30 "$prefix/bin/zelvo" "$preset") >"$work/report" 2>"$work/stderr" || status=$?
report=$(cat "$work/report")
echo "$report"
[ "$status" -eq 0 ] || { cat "$work/stderr"; fail "the program ended with $status"; }
for name in "${names[@]}"; do
    grep -qxF "button: $name" <<<"$report" || fail "the memories do not come from the preset: no '$name'"
done
help=$(realpath "$prefix/share/zelvo/zvo.chm")
grep -qxF "help file: $help" <<<"$report" || fail "help does not come from $help"
grep -qxF "help topic: /main_window.htm" <<<"$report" || fail "help shows no page of the main window"
# Without a sound card the program says so; any other box is a fault.
boxes=$(grep '^box: ' <<<"$report" | grep -vxF 'box: No Soundcard driver found. No sound output possible.' || true)
[ -z "$boxes" ] || fail "unexpected message: $boxes"
echo "installed into $prefix and checked"
