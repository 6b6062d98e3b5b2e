# Sourced by the shell tests: check "what" command... runs the command and
# prints an ok or FAIL line; passed and failed count them for the summary.
# give_up "why" ends the test at once, as one more failure.
passed=0
failed=0
check() {
  local what=$1; shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok   - $what"
  else
    failed=$((failed + 1)); echo "FAIL - $what"
  fi
}
give_up() {
  echo "$(basename "$0" .sh): $*"
  echo "$passed passed, $((failed + 1)) failed"
  exit 1
}
