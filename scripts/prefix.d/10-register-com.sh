# Registers every COM server the build lists in bin/register.list with regsvr32.
source "$QUORLIN_ROOT/scripts/common.sh"
list="$QUORLIN_BUILD/register.list"
[ -s "$list" ] || exit 0
while IFS= read -r dll; do
  [ -n "$dll" ] || continue
  "$WINE" regsvr32 /s "$dll" || { echo "regsvr32 failed for $dll" >&2; exit 1; }
done <"$list"
