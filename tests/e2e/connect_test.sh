#!/usr/bin/env bash
# isql connecting as applications see it (run by run_script.sh): a scrambled
# profile password connects; a wrong password, or a user named on the command
# line (who does not get the profile's password), is refused with 28000; a port
# nobody listens on fails with 08001.
driver="[Halvex Software][ODBC Q4 Driver]"
logon_failed="${driver}Logon failed. Check Q4 connection parameters and available licenses."
no_host="${driver}Unable to communicate with host. Check server status."
failures=0
n=0
# expect PORT PASSWORD USER FAILS TEXT...: a data source of its own, isql's exit
# status (FAILS 1: not zero) and the texts it must show.
expect() {
  local port=$1 password=$2 user=$3 fails=$4 text output status
  shift 4
  n=$((n + 1))
  printf '[c%d]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nUSER=test\nPASSWORD=%s\nACCOUNT=main\n' \
    "$n" "$port" "$password" >>"$ODBCINI"
  output=$(isql -v "c$n" $user </dev/null 2>&1)
  status=$?
  [ $((status != 0)) -eq "$fails" ] || { echo "FAIL: c$n exit status $status: $output"; failures=1; }
  for text in "$@"; do
    [[ $output == *"$text"* ]] || { echo "FAIL: c$n lacks $text: $output"; failures=1; }
  done
}
expect "$Q4_PORT" '~7hGiyw' "" 0 "Connected!"
expect "$Q4_PORT" wrong "" 1 "[28000]" "$logon_failed"
expect "$Q4_PORT" secret TEST 1 "[28000]" "$logon_failed"
expect 1 secret "" 1 "[08001]" "$no_host"  # nothing listens on port 1
exit $failures
