#!/usr/bin/env bash
# make_certs.sh DIR: the certificates the TLS tests use, made afresh with the
# openssl command into DIR (nothing is kept between runs):
#   ca.pem            a test CA (the trusted root of the tests)
#   server.pem/.key   signed by it, for localhost and 127.0.0.1
#   other.pem/.key    signed by it, for other.example only
#   expired.pem/.key  signed by it, for localhost and 127.0.0.1, expired in 2020
#   rogue.pem/.key    for localhost and 127.0.0.1, signed by another CA
#   rogue-ca.pem      that other CA
# Keys are EC P-256: quick to make and to use.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

# A CA: self-signed, allowed to sign.
make_ca() {  # NAME SUBJECT
  key "$1.key"
  openssl req -x509 -new -key "$1.key" -sha256 -days 30 -subj "$2" -out "$1.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}

# A server certificate signed by CA for the names in SAN.
make_server() {  # NAME CA SAN
  key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$3" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 30 \
    -sha256 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

make_ca ca "/CN=q4odbc test CA"
make_ca rogue-ca "/CN=someone else's CA"
make_server server ca "DNS:localhost,IP:127.0.0.1"
make_server other ca "DNS:other.example"
make_server rogue rogue-ca "DNS:localhost,IP:127.0.0.1"

# The expired one: openssl x509 cannot date a certificate in the past, the
# CA command can.
key expired.key
openssl req -new -key expired.key -subj "/CN=expired" -out expired.csr
mkdir -p ca-db
: >ca-db/index.txt
echo 01 >ca-db/serial
cat >ca-db/ca.cnf <<CONF
[ ca ]
default_ca = test
[ test ]
database = ca-db/index.txt
serial = ca-db/serial
new_certs_dir = ca-db
default_md = sha256
policy = anything
copy_extensions = none
x509_extensions = server
[ anything ]
commonName = supplied
[ server ]
subjectAltName = DNS:localhost,IP:127.0.0.1
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
CONF
openssl ca -batch -config ca-db/ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr \
  -startdate 20200101000000Z -enddate 20200201000000Z -out expired.pem 2>/dev/null
