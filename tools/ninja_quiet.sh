# ninja_quiet DIR: builds DIR, showing only warnings and errors; fails when
# the build fails.
ninja_quiet() {
  local log
  log=$(mktemp)
  if ! ninja -C "$1" >"$log" 2>&1; then
    grep -v '^\[' "$log" || true
    rm -f "$log"
    echo "build failed in $1" >&2
    return 1
  fi
  grep -v -e '^\[' -e '^ninja: ' "$log" || true
  rm -f "$log"
}
