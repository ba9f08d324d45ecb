# Sound on machines without a sound device. Wine's ALSA driver is told to offer ALSA's "null"
# device (it discards the samples, and the audio renderer's clock runs in real time), so media
# files with audio render and play here as on a desktop. Machines with a sound card or a
# sound server keep Wine's own choice of driver and device.
source "$QUORLIN_ROOT/scripts/common.sh"
drivers='HKCU\Software\Wine\Drivers'
have_sound() {
  grep -qE '^ *[0-9]+ ' /proc/asound/cards 2>/dev/null && return 0
  [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ] && return 0
  [ -n "${PULSE_SERVER:-}" ] && return 0
  return 1
}
if have_sound; then
  # Undo what an earlier set-up on a silent machine left.
  if "$WINE" reg query "$drivers\\winealsa.drv" /v ALSAOutputDevices 2>/dev/null | grep -q 'null'; then
    "$WINE" reg delete "$drivers\\winealsa.drv" /v ALSAOutputDevices /f >/dev/null 2>&1
    "$WINE" reg delete "$drivers" /v Audio /f >/dev/null 2>&1
  fi
  exit 0
fi
echo "== no sound device: Wine plays audio to ALSA's null device"
"$WINE" reg add "$drivers" /v Audio /d alsa /f >/dev/null 2>&1
"$WINE" reg add "$drivers\\winealsa.drv" /v ALSAOutputDevices /t REG_MULTI_SZ /d null /f >/dev/null 2>&1
