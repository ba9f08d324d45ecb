# Wine draws its windows on one virtual desktop: without a window manager, windows on the
# X server's own desktop wait for focus events that never come.
source "$QUORLIN_ROOT/scripts/common.sh"
"$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
