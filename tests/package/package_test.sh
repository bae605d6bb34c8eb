#!/usr/bin/env bash
# package_test.sh BUILD_DIR: the Debian package as an administrator meets it.
# Builds it with cpack from BUILD_DIR, installs it with dpkg, checks that
# unixODBC lists the driver as "Q4", connects through a data source that names
# the driver by that name to the installed q4lite, removes the package and
# checks that odbcinst.ini and the file system are as they were before.
#
# It changes the machine, so it runs only as root, and it is skipped (status
# 77) when dpkg or cpack is missing, when a q4odbc package is installed
# already, or when a file the package would install exists. Whatever happens,
# the exit trap removes the package and puts odbcinst.ini back.
set -uo pipefail
build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "installing a package needs root"
command -v dpkg >/dev/null && command -v cpack >/dev/null || skip "needs dpkg and cpack"
installed() { dpkg-query -W -f='${Status}' q4odbc 2>/dev/null | grep -q 'install ok installed'; }
installed && skip "a q4odbc package is installed on this machine"

odbcinst_ini=$(odbcinst -j | sed -n 's/^DRIVERS\.*: //p')
work=$(mktemp -d /tmp/q4package.XXXXXX)
server=
we_installed=
failures=0
fail() { echo "FAIL: $*"; failures=1; }
snapshot() { if [ -e "$odbcinst_ini" ]; then cat "$odbcinst_ini"; else echo "(absent)"; fi; }
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  if [ -n "$we_installed" ] && installed; then dpkg --purge q4odbc >/dev/null 2>&1; fi
  # A failed run must not leave the machine's driver list changed either.
  if [ "$(snapshot)" != "$(cat "$work/odbcinst.before")" ]; then
    echo "restoring $odbcinst_ini"
    if grep -qx '(absent)' "$work/odbcinst.before"; then
      rm -f "$odbcinst_ini"
    else
      cp "$work/odbcinst.before" "$odbcinst_ini"
    fi
  fi
  rm -rf "$work"
}
snapshot >"$work/odbcinst.before"
trap cleanup EXIT

(cd "$work" && cpack -G DEB -B "$work/cpack" --config "$build/CPackConfig.cmake") \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; exit 1; }
deb=$(ls "$work"/cpack/q4odbc_*.deb)

# What the package holds beyond the library and the server (which the
# connection below uses) and what it asks for.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/entries"
grep -v '/$' "$work/entries" >"$work/files"
# The folders the installation will create must go with the removal.
grep '/$' "$work/entries" | while read -r folder; do [ -d "$folder" ] || echo "$folder"; done \
  >"$work/new_folders"
for file in /usr/lib/x86_64-linux-gnu/odbc/libq4odbca.so \
            /usr/share/q4odbc/odbcinst.ini.template /usr/share/q4odbc/odbc.ini.template \
            /usr/share/doc/q4odbc/README.md /usr/lib/systemd/system/q4lite.service; do
  grep -qx "$file" "$work/files" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in odbcinst libodbcinst2 libsqlite3-0 libssl3; do
  [[ $depends == *"$dependency"* ]] || fail "Depends lacks $dependency: $depends"
done
while read -r file; do
  [ -e "$file" ] && skip "$file exists already; the package would take it over"
done <"$work/files"
[ $failures = 0 ] || exit 1

we_installed=1
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; exit 1; }
odbcinst -q -d -n Q4 | grep -qx 'Driver=/usr/lib/x86_64-linux-gnu/odbc/libq4odbc.so' ||
  fail "Q4 is not the installed library: $(odbcinst -q -d -n Q4)"
[ -e /etc/systemd/system/multi-user.target.wants/q4lite.service ] &&
  fail "the q4lite unit was enabled"

# The installed server and driver, through a private data source file; the
# driver is found by its registered name in the machine's odbcinst.ini.
/usr/bin/q4lite --seed-sample "$work/sample.db" >/dev/null 2>&1 || fail "q4lite --seed-sample"
echo "admin:s3cret" >"$work/users"
/usr/bin/q4lite --listen 127.0.0.1:0 --port-file "$work/port" --db "$work/sample.db" \
  --users "$work/users" --quiet &
server=$!
for _ in $(seq 1 500); do [ -s "$work/port" ] && break; sleep 0.01; done
port=$(cat "$work/port")
printf '[q4package]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nUSER=admin\nPASSWORD=s3cret\nACCOUNT=main\n' \
  "$port" >"$work/odbc.ini"
answer=$(echo "SELECT COUNT(*) FROM customers" |
  env -u ODBCSYSINI -u ODBCINSTINI ODBCINI="$work/odbc.ini" isql -b -v q4package 2>&1)
[[ $answer == *"| 500"* ]] || fail "the data source: $answer"
kill "$server" && wait "$server" 2>/dev/null
server=

dpkg -r q4odbc >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
installed && fail "still installed after dpkg -r"
dpkg-query -W -f='${Status}' q4odbc 2>/dev/null | grep -q config-files &&
  fail "dpkg -r left the package's configuration behind"
[ "$(snapshot)" = "$(cat "$work/odbcinst.before")" ] ||
  fail "odbcinst.ini differs after removal: $(diff "$work/odbcinst.before" <(snapshot))"
while read -r file; do
  [ -e "$file" ] && fail "$file is left after removal"
done <"$work/files"
while read -r folder; do
  [ -d "$folder" ] && fail "the folder $folder is left after removal"
done <"$work/new_folders"
[ $failures = 0 ] && echo "package: built, installed, connected through Driver=Q4, removed cleanly"
exit $failures
