# Check counting and the JUnit report shared by the Wine end-to-end scripts (sourced; the caller
# sets work, the folder of its logs).

failures=0
checks=0
# Set to 1 by the script's last line: a script that stopped early (an unset variable, a failed
# command under set -e, an exit) has not shown what it was for.
finished=0
# Every check's description and whether it failed, in order, for the JUnit report.
check_names=()
check_failed=()
pass() { checks=$((checks + 1)); check_names+=("$*"); check_failed+=(0); echo "ok: $*"; }
fail() {
  checks=$((checks + 1)); failures=$((failures + 1)); check_names+=("$*"); check_failed+=(1)
  echo "FAILED: $*"
}
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

xml_text() {  # a text as an XML attribute value
  # The replacements are quoted: bash 5.2 reads an unquoted "&" in one as the matched text.
  local text=$1
  text=${text//&/'&amp;'}
  text=${text//</'&lt;'}
  text=${text//>/'&gt;'}
  text=${text//\"/'&quot;'}
  printf '%s' "$text"
}

# report_checks RESULTS_DIR NAME LOG_DIR: writes RESULTS_DIR/e2e_NAME.xml, one test case per
# check, which scripts/test counts; prints the tally and returns 1 when a check failed or none ran.
report_checks() {
  local results=$1 name=$2 logs=$3 status=0 i case_name
  # A script that stopped before its first check has shown nothing.
  ((checks > 0)) || fail "no check ran"
  ((finished)) || fail "the script stopped before its last check"
  [[ $failures -eq 0 ]] || status=1
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo "<testsuites tests=\"$checks\" failures=\"$failures\" disabled=\"0\" errors=\"0\" name=\"e2e\">"
    echo "  <testsuite name=\"e2e_$name\" tests=\"$checks\" failures=\"$failures\">"
    for i in "${!check_names[@]}"; do
      case_name=$(xml_text "${check_names[i]}")
      if ((check_failed[i])); then
        echo "    <testcase classname=\"e2e_$name\" name=\"$case_name\"><failure message=\"failed\"/></testcase>"
      else
        echo "    <testcase classname=\"e2e_$name\" name=\"$case_name\"/>"
      fi
    done
    echo '  </testsuite>'
    echo '</testsuites>'
  } >"$results/e2e_$name.xml"
  echo "$name: $checks checks, $failures failed (logs in $logs)"
  return $status
}

# --- the service's registration, as Wine's reg reads it (the caller sets service_key) ----------

# A registry value as "TYPE DATA" (e.g. "REG_DWORD 0x7"), or nothing when it is not there.
registry_entry() {  # registry_entry KEY VALUE
  wine reg query "$1" /v "$2" 2>>"$work/reg.log" | tr -d '\r' |
    awk -v v="$2" '$1 == v { $1 = ""; sub(/^ +/, ""); sub(/ +/, " "); print }'
}
# The data of a value of the service's key, without its type.
registry_value() { registry_entry "$service_key" "$1" | sed 's/^[^ ]* \{0,1\}//'; }
registered_key() { wine reg query "$1" >/dev/null 2>>"$work/reg.log"; }  # registered_key KEY
registered() { registered_key "$service_key"; }
not_registered() { key_missing "$service_key"; }

# True only when Wine's reg answers that KEY does not exist (exit status 1 and its own message);
# false when the key exists, and also when reg did not run at all (Wine could not start it).
key_missing() {  # key_missing KEY
  local answer
  answer=$(LC_ALL=C wine reg query "$1" </dev/null 2>>"$work/reg.log")
  [[ $? -eq 1 && $(tr -d '\r' <<<"$answer") == 'reg: Unable to find the specified registry key' ]]
}
