#!/bin/bash
# The source folders are layers, each including only itself and the layers
# below it:
#   build tools -> front ends (main.cpp, ui, server) -> run -> sql -> word, data
#   -> format -> base
# word and data sit side by side and include neither each other. A line that
# breaks this is named with the rule it breaks.
set -u
src="${VANTRELLE_SOURCE_DIR:?}/src"
declare -A rank=([base]=0 [format]=1 [data]=2 [word]=2 [sql]=3 [run]=4 [ui]=5 [server]=5 [tools]=6)
status=0
checked=0
while IFS=: read -r file line text; do
  from="${file#"$src"/}"
  from="${from%%/*}"
  to="$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$text")"
  [[ -v rank[$to] ]] || continue
  if [[ ! -v rank[$from] ]]; then
    echo "FAIL: $file is in a folder that has no layer; add it to ${BASH_SOURCE[0]}"
    status=1
    continue
  fi
  checked=$((checked + 1))
  if [[ "$to" != "$from" ]] && ((rank[$to] >= rank[$from])); then
    echo "FAIL: ${file#"$src"/}:$line: the $from folder includes the $to folder, which is not below it"
    status=1
  fi
done < <(grep -rn --include='*.h' --include='*.cpp' -E '^#include "[a-z_]+/' "$src" | grep -v "^$src/main.cpp:")
# A relative include would step round the rule.
if grep -rn --include='*.h' --include='*.cpp' -E '^#include "[^"]*\.\./' "$src"; then
  echo "FAIL: the lines above include by a relative path; include from src/ (\"base/x.h\")"
  status=1
fi
((checked > 100)) || { echo "FAIL: only $checked includes found under $src"; exit 1; }
((status == 0)) && echo "ok: $checked includes follow the layers"
exit "$status"
