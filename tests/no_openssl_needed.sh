#!/usr/bin/env bash
# The shipped libraries load OpenSSL only at the first TLS connect: neither
# names libssl or libcrypto among its NEEDED entries, and neither leaves an
# OpenSSL function for the loader to bind at load time (one such reference
# would make the loader demand a library that defines it).
set -euo pipefail
status=0
for lib in "$@"; do
  needed=$(readelf -d "$lib" | awk '/\(NEEDED\)/ {print $NF}' | tr -d '[]')
  if grep -E '^lib(ssl|crypto)\.' <<<"$needed"; then
    echo "$lib: OpenSSL among the NEEDED entries"; status=1
  fi
  unbound=$(nm -D --undefined-only "$lib" | awk '{print $NF}' |
            grep -E '^(SSL|SSL_CTX|BIO|ERR|X509|TLS|EVP|OPENSSL|CRYPTO)_' || true)
  if [ -n "$unbound" ]; then
    echo "$lib: OpenSSL functions bound at load time:"; echo "$unbound"; status=1
  fi
done
[ $status = 0 ] && echo "no OpenSSL at load time: $*"
exit $status
