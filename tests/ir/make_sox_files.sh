#!/usr/bin/env bash
# Writes the WAV files of the import tests with sox, at build time on the build machine (so that the
# Windows build, run under Wine, reads the very same files):
#   matrix/<encoding>_<rate>.<wav|w64>   0.1 s stereo, every encoding this sox can write
#   fact_ms_adpcm.wav, fact_ima_adpcm.wav   3840 mono frames at 48 kHz; the last ADPCM block is padded
# Usage: make_sox_files.sh SOX OUTDIR
set -euo pipefail
sox="$1"
out="$2"
rm -rf "$out"
mkdir -p "$out/matrix"
encodings=("u8:-b 8 -e unsigned-integer" "s16:-b 16 -e signed-integer" "s24:-b 24 -e signed-integer"
  "s32:-b 32 -e signed-integer" "f32:-b 32 -e floating-point" "f64:-b 64 -e floating-point"
  "alaw:-e a-law" "ulaw:-e u-law" "ima_adpcm:-e ima-adpcm" "ms_adpcm:-e ms-adpcm")
for entry in "${encodings[@]}"; do
  name="${entry%%:*}"
  read -r -a options <<<"${entry#*:}"
  for ext in wav w64; do
    for rate in 44100 96000; do
      # Combinations this sox cannot write are left out.
      "$sox" -D -n -r "$rate" -c 2 "${options[@]}" "$out/matrix/${name}_$rate.$ext" synth 0.1 sine 700 vol 0.5 \
        2>/dev/null || rm -f "$out/matrix/${name}_$rate.$ext"
    done
  done
done
# A sine that starts at its peak, so that nothing is trimmed.
for name in ms ima; do
  "$sox" -D -n -r 48000 -c 1 -e "$name-adpcm" "$out/fact_${name}_adpcm.wav" synth 3840s sine 700 0 25 vol 0.5
done
touch "$out/made"
