#!/usr/bin/env bash
# Checks the dynamic symbol table of the shared library: every defined
# symbol is a Zorbex_, ZbxWin_, ZbxVcam_, ZbxError_, ZbxValues_, ZbxStream_ or ZbxCamera_ function, and the Zorbex_ exports
# are exactly the 124 declared in the public header.
set -euo pipefail
lib=$1
header=$2
defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
stray=$(echo "$defined" | grep -vE '^(Zorbex_|ZbxWin_|ZbxVcam_|ZbxError_|ZbxValues_|ZbxStream_|ZbxCamera_)' | grep -vE '^(_init|_fini|_edata|_end|__bss_start)$' || true)
if [ -n "$stray" ]; then
  echo "unexpected exported symbols:"; echo "$stray"; exit 1
fi
declared=$(grep -oE 'Zorbex_[A-Za-z0-9_]+\(' "$header" | tr -d '(' | sort -u)
undeclared=$(comm -23 <(echo "$defined" | grep '^Zorbex_' || true) <(echo "$declared"))
if [ -n "$undeclared" ]; then
  echo "exports missing from the header:"; echo "$undeclared"; exit 1
fi
count=$(echo "$defined" | grep -c '^Zorbex_' || true)
echo "ok: $count Zorbex_ exports, no stray symbols"
missing=$(comm -13 <(echo "$defined" | grep '^Zorbex_' || true) <(echo "$declared"))
if [ -n "$missing" ] || [ "$count" -ne 124 ]; then
  echo "expected the 124 declared Zorbex_ exports; missing:"; echo "$missing"; exit 1
fi
