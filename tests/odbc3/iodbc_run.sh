#!/usr/bin/env bash
# The ODBC 3 programs of this folder once more, built against iODBC's Driver
# Manager instead of unixODBC's: run by run_script.sh (which started q4lite
# and wrote the private odbc.ini and odbcinst.ini). iODBC's headers clash with
# unixODBC's, so Debian's libiodbc2 and libiodbc2-dev are unpacked privately
# into the build tree (fetched once with apt-get download, never installed)
# and the programs compiled against that copy. Without the packages the test
# reports itself skipped (77).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${Q4_BUILD_DIR:?run through run_script.sh}
dir=$build/iodbc
root=$dir/root
lib=$root/usr/lib/x86_64-linux-gnu
if [ ! -f "$lib/libiodbc.so.2" ] || [ ! -f "$root/usr/include/iodbc/sql.h" ]; then
  mkdir -p "$dir"
  if ! (cd "$dir" && apt-get download libiodbc2 libiodbc2-dev >/dev/null 2>&1); then
    echo "SKIPPED: libiodbc2 and libiodbc2-dev could not be downloaded"
    exit 77
  fi
  for deb in "$dir"/libiodbc2*.deb; do dpkg-deb -x "$deb" "$root" || exit 77; done
fi
[ -f "$lib/libiodbc.so.2" ] || { echo "SKIPPED: no libiodbc.so.2 in the packages"; exit 77; }

# iODBC allocates an ODBC 3 driver's statement only when the driver hands it
# the statement's implicit descriptors (SQLGetStmtAttr(SQL_ATTR_APP_ROW_DESC)
# and the three others); without them every program here would fail at its
# first statement. Asked of the driver directly, before anything runs.
cat >"$dir/descriptors_probe.c" <<'C'
#include <dlfcn.h>
#include <stdio.h>
#include <sql.h>
#include <sqlext.h>
int main(int argc, char** argv) {
  void* driver = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (driver == NULL) return 2;
  SQLRETURN (*alloc)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*) =
      (SQLRETURN(*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*))dlsym(driver, "SQLAllocHandle");
  SQLRETURN (*set_env)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) =
      (SQLRETURN(*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER))dlsym(driver, "SQLSetEnvAttr");
  SQLRETURN (*get_attr)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*) =
      (SQLRETURN(*)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*))dlsym(
          driver, "SQLGetStmtAttr");
  SQLHANDLE env, dbc, stmt, desc = NULL;
  alloc(SQL_HANDLE_ENV, NULL, &env);
  set_env(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  alloc(SQL_HANDLE_DBC, env, &dbc);
  alloc(SQL_HANDLE_STMT, dbc, &stmt);
  return SQL_SUCCEEDED(get_attr(stmt, SQL_ATTR_APP_ROW_DESC, &desc, 0, NULL)) && desc ? 0 : 1;
}
C
cc -std=c11 -I"$root/usr/include/iodbc" -o "$dir/descriptors_probe" "$dir/descriptors_probe.c" -ldl ||
  exit 1
if ! "$dir/descriptors_probe" "$build/libq4odbca.so"; then
  echo "SKIPPED: the driver hands out no statement descriptors, which iODBC needs to allocate a statement"
  exit 77
fi

# iODBC reads the same data source through its own variables, by full path.
# The narrow programs load the ANSI library, as a narrow application under
# iODBC should: with the Unicode one iODBC would carry their text through its
# own wchar_t conversion.
sed "s|/libq4odbc\\.so|/libq4odbca.so|" "$Q4_WORK/odbcinst.ini" >"$Q4_WORK/odbcinst-ansi.ini"
export ODBCINI=$Q4_WORK/odbc.ini ODBCINSTINI=$Q4_WORK/odbcinst-ansi.ini
export LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
failed=0
ran=0
for source in "$here"/*_test.c; do
  name=$(basename "$source" .c)
  program=$dir/$name
  # The pool under test there is unixODBC's own (odbcinst.ini's Pooling).
  if [ "$name" = pooled_connections_test ]; then
    echo "skip $name (tests unixODBC's connection pool)"
    continue
  fi
  # Q4_IODBC: the few checks of what iODBC itself answers, not the driver.
  if ! cc -std=c11 -Wall -DQ4_IODBC -I"$root/usr/include/iodbc" -I"$here" -o "$program" "$source" \
       "$lib/libiodbc.so.2" -ldl; then
    echo "FAILED to build $name against iODBC"
    failed=$((failed + 1))
    continue
  fi
  ran=$((ran + 1))
  # A wide program loads the Unicode library: iODBC hands it its wchar_t text
  # as it is.
  ini=$Q4_WORK/odbcinst-ansi.ini
  [ "$name" = wide_calls_test ] && ini=$Q4_WORK/odbcinst.ini
  if ODBCINSTINI=$ini "$program"; then
    echo "ok   $name (iODBC)"
  else
    echo "FAIL $name (iODBC)"
    failed=$((failed + 1))
  fi
done
echo "$ran program(s) under iODBC, $failed failed"
[ "$failed" -eq 0 ]
