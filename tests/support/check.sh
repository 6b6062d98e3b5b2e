# Sourced by the shell tests: check "what" command... runs the command and
# prints an ok or FAIL line; passed and failed count them for the summary.
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
