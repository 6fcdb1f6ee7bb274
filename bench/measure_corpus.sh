#!/usr/bin/env bash
# Prints how the verdicts fare on the corpus bench/make_corpus.sh built:
#   bench/measure_corpus.sh [DIR] [SONDREL]   (defaults /work/scratch-corpus, build/Sondrel/sondrel)
# For each class: the files failed at the default threshold (320 kbps; 256 kbps for the
# 256-from-192 class and the genuine 192 kbps MP3s, whose own low-pass sits where a 192 source's
# wall does) by the band ladder's cutoff alone (the verdict before the brick-wall
# detector) and by the status a scan gives now, then every genuine file that fails and every
# made-from-lossy file that passes, with why.
# Scans with --no-cache, so the user's analysis cache is neither read nor written.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-/work/scratch-corpus}"
sondrel="${2:-$here/build/Sondrel/sondrel}"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

classes=("flac-from-mp3-128:320" "flac-from-aac-128:320" "mp3-320-from-mp3-128:320" "mp3-256-from-mp3-192:256"
         "genuine-flac:320" "genuine-mp3-320:320" "genuine-mp3-v0:320" "genuine-mp3-192:256")
for entry in "${classes[@]}"; do
    class="${entry%%:*}"
    threshold="${entry##*:}"
    nice -n 10 "$sondrel" scan --json --no-cache --threshold "$threshold" "$dir/$class" \
        >"$out/$class.$threshold.jsonl" 2>/dev/null || true
done

/usr/bin/python3 - "$out" "${classes[@]}" <<'EOF'
import json, os, sys

out, classes = sys.argv[1], sys.argv[2:]
minimum = {"320": 20000.0, "256": 19000.0}
print(f"{'Class':<40} {'ladder alone':>14} {'with detector':>14}")
genuine_failures, fakes_passed = [], []
for entry in classes:
    cls, threshold = entry.split(":")
    lines = [json.loads(l) for l in open(os.path.join(out, f"{cls}.{threshold}.jsonl")) if l.startswith("{")]
    total = len(lines)
    before = after = 0
    for line in lines:
        result = line.get("result")
        ladder_fails = result is None or result["cutoffFrequency"] < minimum[threshold]
        before += ladder_fails
        fails = line["status"] != "passed"
        after += fails
        genuine = cls.startswith("genuine")
        if fails != genuine:
            continue
        why = line.get("error") or (
            f"ladder cutoff {result['cutoffFrequency']:.0f} Hz"
            + (f", wall {result['lossyEvidence']}" if "lossyEvidence" in result else ", no wall acted")
            + (f", own encoder's pruning {result['encoderPruning']}" if "encoderPruning" in result else "")
            + (f", encoder low-pass {result['encoderLowpass']} Hz" if "encoderLowpass" in result else ""))
        (genuine_failures if genuine else fakes_passed).append(f"{cls}/{line['name']}: {why}")
    label = cls + (f" (threshold {threshold})" if threshold != "320" else "")
    pct = lambda n: f"{n}/{total} ({100 * n / max(total, 1):.0f} %)"
    print(f"{label:<40} {pct(before):>14} {pct(after):>14}")
for title, found in (("Genuine files failed now:", genuine_failures), ("Fakes passed now:", fakes_passed)):
    print()
    print(title if found else title.replace(":", ": none"))
    for line in found:
        print("  " + line)
EOF
