#!/usr/bin/env bash
# Runs after every GUI test (a CTest fixture's cleanup): fails if any process started by them
# (an X server, a window manager, the program) is still running, and ends those it finds. The GUI
# tests carry a marker in their environment, which everything they start inherits.
set -uo pipefail
marker="TONEMORPH_GUI_RUN=$1"
left=()
for environ in /proc/[0-9]*/environ; do
  pid=${environ#/proc/}; pid=${pid%/environ}
  if { tr '\0' '\n' < "$environ"; } 2>/dev/null | grep -qxF -- "$marker"; then left+=("$pid"); fi
done
[[ ${#left[@]} -eq 0 ]] && { echo "no process of the GUI tests is left"; exit 0; }
echo "processes of the GUI tests still running after them:" >&2
ps -o pid,ppid,etime,args -p "$(IFS=,; echo "${left[*]}")" >&2 || true
kill -KILL "${left[@]}" 2>/dev/null || true
exit 1
