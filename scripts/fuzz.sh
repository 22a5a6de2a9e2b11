#!/usr/bin/env bash
# Runs every fuzz target of the given build tree for the given number of
# seconds each. The PSD target starts from the committed seeds made with the
# test PSD writer, a descriptor, and the small files of the sample corpus; the text-input
# target from fuzz/seeds-text (settings files, an information file, cell
# maps). The readers' own console lines are silenced (-close_fd_mask=2);
# crashes are left in <build-dir>/fuzz-artifacts/; keep each as a
# regression test.
set -eu
dir=${1:-build-fuzz}
seconds=${2:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
samples="$root/../shared/psd-samples"
artifacts="$dir/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
for target in "$dir"/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$dir/fuzz-corpus/$name"
  mkdir -p "$corpus"
  if [ "$name" != psd_fuzz ]; then
    cp -n "$root"/fuzz/seeds-text/* "$corpus"/ 2>/dev/null || true
  else
    cp -n "$root"/fuzz/seeds/* "$corpus"/ 2>/dev/null || true
  fi
  if [ "$name" = psd_fuzz ] && [ -d "$samples" ]; then
    find "$samples" -type f \( -name '*.psd' -o -name '*.psb' \) -size -64k -print0 |
      while IFS= read -r -d '' f; do cp -n "$f" "$corpus/sample_$(echo "$f" | md5sum | cut -c1-12)"; done
  fi
  echo "== $name for $seconds s"
  "$target" "$corpus" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 || status=1
done
exit $status
