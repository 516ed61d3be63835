#!/usr/bin/env bash
# The core's folders form layers: a folder may include its own headers and
# those of the layers below it, never one above. The engine below shell/ knows
# nothing of message boxes, cursors or clocks: it returns diagnostics.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [util]="util"
  [image]="util image"
  [target]="util target"
  [reference]="util target reference"
  [measure]="util image target reference measure"
  [locate]="util image target reference locate"
  [profile]="util image target reference measure profile"
  [output]="util image target reference measure profile output"
  [results]="util image target reference measure profile results"
  [shell]="util image target reference measure locate profile output results shell"
)

status=0
for folder in "${!allowed[@]}"; do
  while IFS= read -r line; do
    file=${line%%:*}
    included=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$line")
    if [[ " ${allowed[$folder]} " != *" $included "* ]]; then
      echo "layering: $file includes $included/ (a layer above or beside $folder/)"
      status=1
    fi
  done < <(grep -H -E '^#include "[a-z_]+/' src/"$folder"/*.h src/"$folder"/*.cpp 2>/dev/null || true)
done

engine=(src/util src/image src/reference src/target src/measure src/locate src/profile src/output src/results)
if grep -rn -E 'Platform|platform\.' "${engine[@]}"; then
  echo "layering: the engine names the platform (lines above); it must return diagnostics instead"
  status=1
fi
[ "$status" -eq 0 ] && echo "Layering: every include points down."
exit "$status"
