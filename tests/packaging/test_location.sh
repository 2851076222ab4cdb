#!/usr/bin/env bash
# scripts/test, run as root, must move a checkout that lies below a folder
# other users can write or cannot enter: its check, on folders of each kind.
# Run as root only (the check applies to root alone); otherwise it skips.
set -euo pipefail
source_dir="$1"
if [ "$(id -u)" -ne 0 ]; then echo "not root: skipped"; exit 0; fi
eval "$(sed -n '/^unfit_for_tests_as_root() {/,/^}/p' "$source_dir/scripts/test")"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/test-location-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
failures=0
expect() {  # MODE OF THE MIDDLE FOLDER, EXPECTED VERDICT (move or stay)
  local mode="$1" expected="$2" verdict
  rm -rf "$scratch/middle"
  mkdir -p "$scratch/middle/checkout"
  chmod "$mode" "$scratch/middle"
  if (cd "$scratch/middle/checkout" && unfit_for_tests_as_root); then verdict=move; else verdict=stay; fi
  if [ "$verdict" != "$expected" ]; then
    echo "a checkout below a folder of mode $mode: $verdict, expected $expected"
    failures=$((failures + 1))
  fi
}
# The scratch folder's own ancestors decide for all cases alike: only
# meaningful where they are fit themselves.
if (cd "$scratch" && unfit_for_tests_as_root); then echo "scratch base unfit itself: skipped"; exit 0; fi
expect 755 stay
expect 700 move    # /root on Debian: others cannot enter
expect 1777 move   # /tmp: others can write
expect 775 move
expect 751 stay    # others may enter without listing
[ "$failures" -eq 0 ]
