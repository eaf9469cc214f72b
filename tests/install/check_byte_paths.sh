#!/usr/bin/env bash
# The program started with names that are not UTF-8: a preset file named on
# the command line, and the settings folder from $XDG_CONFIG_HOME. Both must be
# used by their exact bytes.
#   check_byte_paths.sh ZELVO PLUGINS MAKE_PRESET
set -euo pipefail
zelvo=$1 plugins=$2 make_preset=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$work/home" "$work/elsewhere"
mkdir -m 700 "$work/runtime"
names=("Bytes A" "Bytes B" "Bytes C" "Bytes D")
"$make_preset" "$work/plain.zvo" "${names[@]}"
preset=$work/$'\xff\xfe-tones-\xe9.zvo'
mv "$work/plain.zvo" "$preset"
config=$work/$'config-\xff'
mkdir "$config"

status=0
(cd "$work/elsewhere" &&
    env HOME="$work/home" XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$work/runtime" \
        QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=zelvoprobe \
        timeout 30 "$zelvo" "$preset") >"$work/report" 2>"$work/stderr" || status=$?
report=$(cat "$work/report")
echo "$report"
[ "$status" -eq 0 ] || { cat "$work/stderr"; fail "the program ended with $status"; }
for name in "${names[@]}"; do
    grep -qxF "button: $name" <<<"$report" || fail "the preset named by its bytes was not loaded: no '$name'"
done
# the start-up stores the device choice: into the folder named by those bytes
[ -f "$config/Quorvin/Zelvo.ini" ] || fail "no settings in the folder that XDG_CONFIG_HOME names"
others=$(find "$work" -name Zelvo.ini ! -path "$config/Quorvin/Zelvo.ini")
[ -z "$others" ] || fail "settings written elsewhere: $others"
echo "byte paths checked"
