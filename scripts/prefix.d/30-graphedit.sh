# Tells the prefix where GraphEdit is installed: the built graphedt.exe.
source "$QUORLIN_ROOT/scripts/common.sh"
exe="$QUORLIN_BUILD/bin/graphedt.exe"
[ -f "$exe" ] || exit 0
"$WINE" reg add 'HKLM\Software\Microsoft\Shared Tools\Graphedit' /v Path /t REG_SZ \
  /d "$(quorlin_winpath "$exe")" /f >/dev/null 2>&1
