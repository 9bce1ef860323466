#!/bin/bash
# SPDX-License-Identifier: MIT
# Fails when a server source includes a layer above its own (or the server's
# top, central_server), so the layers keep pointing one way. Unit tests may
# include anything: they run the whole server.
#   check_layers.sh SERVER_DIR
set -u
dir=${1:?usage: check_layers.sh SERVER_DIR}
layers=(storage store sessions http clients web admin)
rank() {
  local i
  for i in "${!layers[@]}"; do [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }; done
  echo 99
}
status=0
for layer in "${layers[@]}"; do
  [[ -d $dir/$layer ]] || { echo "missing layer folder $dir/$layer"; status=1; continue; }
  own=$(rank "$layer")
  for file in "$dir/$layer"/*.h "$dir/$layer"/*.cpp; do
    [[ -e $file && $file != *_test.cpp ]] || continue
    while IFS= read -r included; do
      target=${included%%/*}
      [[ $included == */* ]] || target=top
      if (( $(rank "$target") > own )); then
        echo "${file#"$dir"/} includes server/$included, a layer above $layer"
        status=1
      fi
    done < <(sed -n 's|^#include "server/\([^"]*\)".*|\1|p' "$file")
  done
done
for file in "$dir"/*/*; do
  case $file in *.h | *.cpp) ;; *) continue ;; esac
  sub=${file#"$dir"/}
  (( $(rank "${sub%%/*}") < 99 )) || { echo "$sub is in no layer"; status=1; }
done
exit $status
