# Puts the graph manager with saved-graph support (standins/graphshim) in place of the
# platform's graph manager in this prefix only. `regsvr32 /u` of the same DLL puts
# quartz.dll back.
source "$QUORLIN_ROOT/scripts/common.sh"
dll="$QUORLIN_BUILD/bin/QuorlinGraphShim.dll"
[ -f "$dll" ] || { echo "graph shim not built: $dll" >&2; exit 1; }
"$WINE" regsvr32 /s "$(quorlin_winpath "$dll")" || { echo "regsvr32 failed for $dll" >&2; exit 1; }
