#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when missing.
set -euo pipefail

packages=(g++ cmake make pkg-config libgtest-dev googletest unixodbc unixodbc-dev odbcinst
          libsqlite3-dev sqlite3 python3 python3-pyodbc libdbd-odbc-perl perl
          valgrind locales clang libclang-rt-14-dev xxd)
# TLS: OpenSSL to build the driver and q4lite, and the openssl command that
# makes the tests' certificates.
packages+=(libssl-dev openssl)
# The Debian package (cpack -G DEB runs dpkg-shlibdeps) and the clients of the
# documentation's recipes (docs/clients/).
packages+=(dpkg-dev python3-pandas php-cli php-odbc ruby ruby-odbc nodejs)
# The end-to-end tier's other clients: R's RODBC, Qt's ODBC plugin under PyQt5,
# and LibreOffice's ODBC database driver with its Python bridge, in the variant
# without a graphical interface (about a minute more on a fresh machine).
packages+=(r-cran-rodbc python3-pyqt5.qtsql libqt5sql5-odbc
           libreoffice-core-nogui libreoffice-base-drivers python3-uno)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm comes with Debian's npm package, or inside another build of nodejs.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
