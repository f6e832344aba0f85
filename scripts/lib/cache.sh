# Where the scripts keep what they build or fetch once and reuse (sourced by
# scripts/windows-deps and scripts/lib/wine.sh).

# kelvo_cache_dir: prints $KELVO_CACHE, else /var/cache/kelvo where that can be written
# (as root), else ${XDG_CACHE_HOME:-~/.cache}/kelvo.
kelvo_cache_dir() {
  if [ -n "${KELVO_CACHE:-}" ]; then
    echo "$KELVO_CACHE"
  elif mkdir -p /var/cache/kelvo 2>/dev/null && [ -w /var/cache/kelvo ]; then
    echo /var/cache/kelvo
  else
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/kelvo"
  fi
}
