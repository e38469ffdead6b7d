#!/usr/bin/env bash
# Signs one file in place with the release's certificate: SHA-256 Authenticode
# with the product's name and address, and an RFC 3161 time stamp when
# VARNEL_SIGN_TIMESTAMP_URL names a time-stamp server. The build calls it for
# each file it signs (VARNEL_SIGN_COMMAND; see scripts/release.sh).
#   sign-file.sh FILE
# Reads VARNEL_SIGN_PFX (a PKCS#12 file with the certificate and its key) and
# VARNEL_SIGN_PASSWORD from the environment, so that the password is in no
# command line. A file it cannot sign is removed: nothing unsigned is packed
# or shipped by mistake, and the next build makes it again.
set -euo pipefail
file=$1
product_name=VarnelKVM
product_url=https://www.varnel.com/

: "${VARNEL_SIGN_PFX:?sign-file.sh: VARNEL_SIGN_PFX names no certificate}"
arguments=(sign -pkcs12 "$VARNEL_SIGN_PFX" -h sha256 -n "$product_name" -i "$product_url")
if [ -n "${VARNEL_SIGN_TIMESTAMP_URL:-}" ]; then
  arguments+=(-ts "$VARNEL_SIGN_TIMESTAMP_URL")
fi
if osslsigncode "${arguments[@]}" -readpass <(printf '%s' "${VARNEL_SIGN_PASSWORD:-}") \
     -in "$file" -out "$file.signed" >/dev/null; then
  mv -f "$file.signed" "$file"
else
  rm -f "$file.signed" "$file"
  echo "sign-file.sh: could not sign $file${VARNEL_SIGN_TIMESTAMP_URL:+ (time stamps from $VARNEL_SIGN_TIMESTAMP_URL)}; removed it" >&2
  exit 1
fi
