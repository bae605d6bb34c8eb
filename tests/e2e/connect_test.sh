#!/usr/bin/env bash
# isql connecting as applications see it (run by run_script.sh): a scrambled
# profile password connects; a wrong password is refused with 28000, and a user
# named on the command line (who does not get the profile's password) is
# refused with the hint that the password sent was empty; a port nobody
# listens on fails with 08001; without a data source the Driver Manager finds
# the driver by name (SQLDriverConnect). (Accounts without a password and the
# PORT keyword are pyodbc_rowcount_connect_test.py's.)
driver="[Halvex Software][ODBC Q4 Driver]"
failures=0
# dsn PORT PASSWORD: a data source of its own for user "test", named in $name.
dsn() {
  n=$((n + 1))
  name=c$n
  printf '[%s]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nUSER=test\nPASSWORD=%s\nACCOUNT=main\n' \
    "$name" "$1" "$2" >>"$ODBCINI"
}
# expect FAILS "ISQL ARGUMENTS" TEXT...: isql's exit status (FAILS 1: not zero)
# and the texts it must show.
expect() {
  local fails=$1 arguments=$2 text output status
  shift 2
  output=$(isql -v $arguments </dev/null 2>&1)
  status=$?
  [ $((status != 0)) -eq "$fails" ] || { echo "FAIL: $arguments: exit status $status: $output"; failures=1; }
  for text in "$@"; do
    [[ $output == *"$text"* ]] || { echo "FAIL: $arguments lacks $text: $output"; failures=1; }
  done
}
dsn "$Q4_PORT" '~7hGiyw'
expect 0 "$name" "Connected!"
dsn "$Q4_PORT" wrong
expect 1 "$name" "[28000]" "${driver}Logon failed. Check Q4 connection parameters and available licenses."
dsn "$Q4_PORT" secret
expect 1 "$name TEST" "[28000]" "${driver}Logon failed. Check Q4 connection parameters and available licenses. The password sent for user \"TEST\" was empty"
dsn 1 secret  # nothing listens on port 1
expect 1 "$name" "[08001]" "${driver}Unable to communicate with host. Check server status."
expect 0 "-k DRIVER=Q4;SERVER=127.0.0.1;PORTNUMBER=$Q4_PORT;UID=test;PWD=secret;ACCOUNT=main" "Connected!"
exit $failures
