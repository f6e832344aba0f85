# The harbour's sky, the part of a screenshot by which the scripts and tests tell that the
# harbour shows as it should (sourced by scripts/lib/distro-check.sh and
# tests/windows/check_demo.sh): the sky between the lighthouse and the sun, above the town,
# is still in every frame of the harbour (the boat, the sun, the water and the greeting move
# elsewhere), so a screenshot taken at any moment of the harbour matches any other there,
# the package's tessic.png among them.
readonly kKelvoSky=1000x270+450+60
readonly kKelvoSkyPixels=270000
readonly kKelvoSkyNeededMatch=0.90

# kelvo_sky_match SHOT REFERENCE: prints the share (0.000 to 1.000) of the sky's pixels in
# the screenshot SHOT within 8 % of the reference's; 0.000 when either cannot be read.
kelvo_sky_match() {
  local differ
  differ=$(compare -metric AE -fuzz 8% "$1[$kKelvoSky]" "$2[$kKelvoSky]" null: 2>&1 | grep -o '^[0-9.e+]*')
  awk -v d="${differ:-$kKelvoSkyPixels}" -v all=$kKelvoSkyPixels 'BEGIN { printf "%.3f", 1 - d / all }'
}

# kelvo_sky_matches SHARE: true when a share that kelvo_sky_match printed is enough.
kelvo_sky_matches() {
  awk -v m="$1" -v n=$kKelvoSkyNeededMatch 'BEGIN { exit !(m >= n) }'
}
