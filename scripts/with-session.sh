#!/usr/bin/env bash
# Runs a command inside a private test session: a throwaway HOME with its own XDG folders, its own D-Bus session
# bus, a real Secret Service (gnome-keyring-daemon, unlocked with a test password) and an Xvfb display.
# Nothing touches the real user's keyring, settings or data folder.
#   scripts/with-session.sh COMMAND [ARGS...]
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

if [ -z "${DORVIK_INSIDE_SESSION:-}" ]; then
  scratch=$(mktemp -d /tmp/dorvik-session.XXXXXX)
  cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$scratch"
  }
  trap cleanup EXIT
  export HOME="$scratch/home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  export XDG_STATE_HOME="$HOME/.local/state" XDG_RUNTIME_DIR="$scratch/runtime"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"

  # A free X display number.
  display=99
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1600x1000x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
  export DISPLAY=":$display"
  unset WAYLAND_DISPLAY
  export GDK_BACKEND=x11 GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
  export DORVIK_INSIDE_SESSION=1
  status=0
  dbus-run-session -- "$0" "$@" || status=$?
  exit $status
fi

# Inside the private bus: start and unlock the keyring, then run the command.
keyring_env=$(printf 'dorvik-test-password' | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null || true)
keyring_env=$(printf 'dorvik-test-password' | gnome-keyring-daemon --start --components=secrets 2>/dev/null || true)
eval "$(printf '%s\n' "$keyring_env" | sed -n 's/^\([A-Z_]*\)=\(.*\)$/export \1="\2"/p')"
unset DORVIK_INSIDE_SESSION
exec "$@"
