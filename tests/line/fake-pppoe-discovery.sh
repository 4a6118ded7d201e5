#!/bin/sh
# Stands in for pppoe-discovery: prints $FAKE_NM_DIR/discovery and exits with the code
# in discovery-exit; logs its arguments to discovery-calls.
d="$FAKE_NM_DIR"
printf '%s\n' "$*" >> "$d/discovery-calls"
cat "$d/discovery" 2>/dev/null
exit "$(cat "$d/discovery-exit" 2>/dev/null || echo 0)"
