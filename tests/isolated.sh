#!/usr/bin/env bash
# Runs one test with its own settings, data and temporary folders, so that no
# test ever reads or writes the user's own files.
set -eu
xvfb=0
if [ "${1:-}" = "--xvfb" ]; then xvfb=1; shift; fi
root=${GELV_TEST_ROOT:?}
rm -rf "$root"
mkdir -p "$root/config" "$root/data" "$root/tmp" "$root/home"
export XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" TMPDIR="$root/tmp" HOME="$root/home"
export XDG_RUNTIME_DIR="$root/tmp"
chmod 700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_DISABLE_SANDBOX=1
if [ "$xvfb" = 1 ]; then
    unset QT_QPA_PLATFORM
    # Without -noreset the server resets whenever its last client leaves, and a client
    # connecting meanwhile (the next start of the application) is refused.
    exec xvfb-run -a -s "-screen 0 1600x1000x24 -noreset" "$@"
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec "$@"
