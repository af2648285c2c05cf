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

  # A display of our own: Xvfb picks a free number itself and writes it once it listens (sessions started at the
  # same moment would otherwise choose the same number and share, then lose, one server).
  mkfifo "$scratch/display"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  display=$(timeout 10 head -n 1 "$scratch/display" || true)
  if [ -z "$display" ]; then
    echo "with-session: Xvfb did not start:" >&2
    cat "$scratch/xvfb.log" >&2
    exit 1
  fi
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
