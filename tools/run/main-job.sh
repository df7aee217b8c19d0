#!/usr/bin/env bash
# The main job: Quillora, started from its bundle, scans from the virtual
# KD-720 through our TWAIN manager and KD720.ds, as the companion reports a
# start by scanner button 1, into a PDF in the run's output folder.
#
# Everything the run reads or writes lies in its run folder (default
# build/run, KD_RUN_FOLDER elsewhere): its own home, configuration, runtime
# and temporary folders, and a private session bus. The settings come from
# tools/run/com.tavrolek.Quillora.plist.in.
#
# Environment: KD_RUN_BUILD (the configured build folder, default
# build/release), KD_RUN_FOLDER, KD_RUN_TIME_LIMIT (seconds, default 240),
# KD_VIRTUAL_SCANNER (settings text of the virtual scanner, default three
# sheets).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${KD_RUN_BUILD:-$root/build/release}
run=${KD_RUN_FOLDER:-$root/build/run}
limit=${KD_RUN_TIME_LIMIT:-240}
app=$build/bundles/Quillora/Quillora
source_bundle=$build/bundles/KD720

fail() { echo "main job failed: $*" >&2; exit 1; }

[ -x "$app" ] || fail "no Quillora at $app (build the release configuration first)"
[ -d "$source_bundle" ] || fail "no KD720 bundle at $source_bundle"
command -v dbus-daemon >/dev/null || fail "dbus-daemon is not installed"
command -v qpdf >/dev/null || fail "qpdf is not installed"

rm -rf "$run"
mkdir -p "$run/home" "$run/config" "$run/runtime" "$run/tmp" "$run/output"
chmod 700 "$run/runtime"
run=$(cd "$run" && pwd)
output=$run/output

export HOME=$run/home XDG_CONFIG_HOME=$run/config XDG_RUNTIME_DIR=$run/runtime \
    XDG_CACHE_HOME=$run/home/.cache XDG_DATA_HOME=$run/home/.local/share TMPDIR=$run/tmp

hide=false
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    hide=true
    echo "No display: Quillora runs offscreen and ends by itself; the PDF goes to $output"
fi

# The settings: the template with the output folder (as XML text) and the
# hide preference filled in.
xml_path=$output
xml_path=${xml_path//&/&amp;}
xml_path=${xml_path//</&lt;}
xml_path=${xml_path//>/&gt;}
settings=$(<"$root/tools/run/com.tavrolek.Quillora.plist.in")
settings=${settings//@OUTPUT_FOLDER@/"$xml_path"}
settings=${settings//@HIDE_AT_BUTTON_START@/"$hide"}
printf '%s\n' "$settings" >"$XDG_CONFIG_HOME/com.tavrolek.Quillora.plist"

# A private session bus for the run; the user's bus is never used.
bus_info=$(dbus-daemon --session --print-address=1 --print-pid=1 --fork) || fail "cannot start a session bus"
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_info")
bus_pid=$(sed -n 2p <<<"$bus_info")
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null || true
    kill "$bus_pid" 2>/dev/null || true
}
trap cleanup EXIT

export KD_TWAIN_DS_PATH=$source_bundle
export KD_VIRTUAL_SCANNER=${KD_VIRTUAL_SCANNER-sheets=3}
# The stand-in companion's answer to the start-up check: started by
# scanner button 1.
export KD_COMPANION_LAUNCH_TYPE=2 KD_COMPANION_DATA_FOR_SCAN=1
export KD_COMPANION_LOG=$run/companion.log

log=$run/quillora.log
"$app" >"$log" 2>&1 &
app_pid=$!
deadline=$((SECONDS + limit))
while kill -0 "$app_pid" 2>/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
        kill -KILL "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
        app_pid=
        tail -n 20 "$log" >&2 || true
        fail "Quillora did not end within $limit s"
    fi
    sleep 0.2
done
status=0
wait "$app_pid" || status=$?
app_pid=
if [ "$status" -ne 0 ]; then
    tail -n 20 "$log" >&2 || true
    fail "Quillora ended with status $status"
fi

shopt -s nullglob
pdfs=("$output"/*.pdf)
[ "${#pdfs[@]}" -gt 0 ] || { tail -n 20 "$log" >&2 || true; fail "no PDF in $output"; }
for pdf in "${pdfs[@]}"; do
    qpdf --check "$pdf" >/dev/null 2>&1 || fail "qpdf refuses $pdf"
    echo "$pdf: $(qpdf --show-npages "$pdf") pages"
done
