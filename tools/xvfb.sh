# Sourced by ./run and ./test: makes sure an X server answers on $DISPLAY.
# Where none does, starts a private Xvfb, waits until it accepts clients (it can be
# slow to), exports DISPLAY and stops the server when the calling script exits.
# The server runs with -noreset: by default an X server resets when its last client
# disconnects and refuses connections while it does, so with tests connecting and leaving
# in parallel one of them would now and then find no display.

vs_display_answers() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
}

vs_ensure_display() {
  if vs_display_answers; then
    return 0
  fi
  local n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do
    n=$((n + 1))
  done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  VS_XVFB_PID=$!
  trap 'kill "$VS_XVFB_PID" 2>/dev/null; wait "$VS_XVFB_PID" 2>/dev/null' EXIT
  export DISPLAY=":$n"
  # Qt wants a private runtime directory; a bare headless session has none.
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
  fi
  local tries=0
  until vs_display_answers; do
    tries=$((tries + 1))
    if [ "$tries" -ge 150 ] || ! kill -0 "$VS_XVFB_PID" 2>/dev/null; then
      echo "xvfb: the virtual X server on $DISPLAY did not start" >&2
      return 1
    fi
    sleep 0.2
  done
}
