#!/usr/bin/env bash
# Builds what ships from the working tree and writes it into OUT (default dist/):
# VarnelKVM.exe, Quillhook.dll, VarnelKVM-Setup-<version>.exe,
# VarnelKVM-<version>.msi and SHA256SUMS; then says what it made and how it
# was signed.
#   scripts/release.sh [OUT]
#
# Signing: VARNEL_SIGN_PFX names a PKCS#12 file with the code-signing
# certificate and its key, VARNEL_SIGN_PASSWORD opens it, and
# VARNEL_SIGN_TIMESTAMP_URL (optional) names an RFC 3161 time-stamp server.
# Every file is signed before anything packs it (scripts/sign-file.sh, called
# by the build). Without VARNEL_SIGN_PFX nothing is signed, and the end says
# so. A certificate that cannot be opened or cannot sign code stops the
# release before the build; nothing is written to OUT unless everything
# was built and signed.
#
# Reproducible: the build is made afresh (VARNEL_RELEASE_BUILD_DIR, default
# build-release) and dated the commit's time (SOURCE_DATE_EPOCH, unless it is
# set): a build of the same commit anywhere else gives the same files
# (README, "Verify a download"; scripts/check-reproducible.sh).
#
# VARNEL_RELEASE_ARCH=x86_64 builds the 64-bit stand-ins instead (-x64 in
# their names): the tests' installer where a machine runs no 32-bit programs.
# They never ship.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-$root/dist}"
out=$(cd "${1:-$root/dist}" && pwd)
arch=${VARNEL_RELEASE_ARCH:-i686}
suffix=
[ "$arch" = x86_64 ] && suffix=-x64
build=${VARNEL_RELEASE_BUILD_DIR:-$root/build-release$suffix}

fail() {
  echo "release.sh: $*" >&2
  exit 1
}

# One locale for every build, whatever the user's: makensis reads its
# arguments (the copyright sign) as UTF-8, and no tool sorts or words
# anything differently from one machine to the next.
export LC_ALL=C.UTF-8

extra_packages=(osslsigncode openssl python3)
[ "$arch" = x86_64 ] && extra_packages+=(g++-mingw-w64-x86-64-posix)
"$root/scripts/setup-debian.sh" "${extra_packages[@]}"

# The commit's time dates the binaries (the linker's PE time stamps) and the
# files inside the installers.
commit=$(git -C "$root" rev-parse --short=12 HEAD 2>/dev/null) || commit=
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  [ -n "$commit" ] || fail "$root is not a git checkout: set SOURCE_DATE_EPOCH to the sources' time"
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct HEAD)
fi
export SOURCE_DATE_EPOCH
uncommitted=
if [ -n "$commit" ] && ! git -C "$root" diff --quiet HEAD --; then
  uncommitted=1
fi

# A release that fails leaves nothing in OUT, not even an earlier one.
rm -f "$out/VarnelKVM.exe" "$out/Quillhook.dll" "$out"/VarnelKVM-Setup-*.exe "$out"/VarnelKVM-*.msi "$out/SHA256SUMS"

# The certificate, checked before anything is built.
sign_command=
if [ -n "${VARNEL_SIGN_PFX:-}" ]; then
  [ -r "$VARNEL_SIGN_PFX" ] || fail "VARNEL_SIGN_PFX: cannot read $VARNEL_SIGN_PFX"
  VARNEL_SIGN_PFX=$(realpath "$VARNEL_SIGN_PFX")
  export VARNEL_SIGN_PFX VARNEL_SIGN_PASSWORD=${VARNEL_SIGN_PASSWORD-}
  pkcs12() {
    openssl pkcs12 -in "$VARNEL_SIGN_PFX" -passin env:VARNEL_SIGN_PASSWORD "$@" 2>/dev/null ||
      openssl pkcs12 -legacy -in "$VARNEL_SIGN_PFX" -passin env:VARNEL_SIGN_PASSWORD "$@" 2>/dev/null
  }
  certificate=$(pkcs12 -clcerts -nokeys) ||
    fail "VARNEL_SIGN_PFX ($VARNEL_SIGN_PFX) does not open with VARNEL_SIGN_PASSWORD: a wrong password, or not a PKCS#12 file. Nothing was built."
  # -clcerts gives only the certificate that goes with the key.
  grep -q "BEGIN CERTIFICATE" <<<"$certificate" && pkcs12 -nocerts -nodes | grep -c "PRIVATE KEY" >/dev/null ||
    fail "VARNEL_SIGN_PFX ($VARNEL_SIGN_PFX) holds no certificate with its private key. Nothing was built."
  subject=$(openssl x509 -noout -subject -nameopt RFC2253 <<<"$certificate" | sed 's/^subject=//')
  thumbprint=$(openssl x509 -noout -fingerprint -sha1 <<<"$certificate" | sed 's/.*=//; s/://g')
  expires=$(openssl x509 -noout -enddate <<<"$certificate" | sed 's/^notAfter=//')
  purposes=$(openssl x509 -noout -ext extendedKeyUsage <<<"$certificate" 2>/dev/null | sed 1d | xargs || true)
  key_usage=$(openssl x509 -noout -ext keyUsage <<<"$certificate" 2>/dev/null | sed 1d | xargs || true)
  grep -q "Code Signing" <<<"$purposes" ||
    fail "the certificate in VARNEL_SIGN_PFX ($subject) cannot sign code: its extended key usage is ${purposes:-not given}, not Code Signing. Nothing was built."
  [ -z "$key_usage" ] || grep -q "Digital Signature" <<<"$key_usage" ||
    fail "the certificate in VARNEL_SIGN_PFX ($subject) cannot sign code: its key usage is $key_usage, without Digital Signature. Nothing was built."
  openssl x509 -noout -checkend 0 <<<"$certificate" >/dev/null ||
    fail "the certificate in VARNEL_SIGN_PFX ($subject) expired on $expires. Nothing was built."
  sign_command=$root/scripts/sign-file.sh
fi

if [ -e "$build" ] && [ ! -f "$build/CMakeCache.txt" ] && [ -n "$(ls -A "$build")" ]; then
  fail "$build is not a build folder: it is left alone; set VARNEL_RELEASE_BUILD_DIR"
fi
rm -rf "$build"
mkdir -p "$build"
log=$build/release-build.log
echo "Building ${suffix:+the 64-bit stand-ins }in $build${sign_command:+, signing every file}"
if ! { cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
         -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF -DVARNEL_SIGN_COMMAND="$sign_command" &&
       cmake --build "$build" -j "$(nproc)"; } >"$log" 2>&1; then
  tail -n 25 "$log" >&2
  fail "the build failed${sign_command:+, or a file could not be signed}: nothing was written to $out (the whole log: $log)"
fi

cached() { sed -n "s/^$1:INTERNAL=//p" "$build/CMakeCache.txt"; }
version=$(cached VARNEL_VERSION)
files=(VarnelKVM.exe Quillhook.dll "$(cached VARNEL_SETUP_NAME)" "$(cached VARNEL_MSI_NAME)")
for file in "${files[@]}"; do
  [ -n "$file" ] && [ -f "$build/bin/$file" ] ||
    fail "the build made no ${file:-installer} (are makensis and wixl installed?): nothing was written to $out"
done

# Each signature checked against the certificate's own chain and the system's
# roots, as a user's Windows would, before anything is written.
if [ -n "$sign_command" ]; then
  chain=$build/certificate-chain.pem
  { pkcs12 -nokeys; cat /etc/ssl/certs/ca-certificates.crt 2>/dev/null || true; } >"$chain"
  for file in "${files[@]}"; do
    osslsigncode verify -CAfile "$chain" -in "$build/bin/$file" >"$build/verify-$file.txt" 2>&1 ||
      fail "the signature of $file does not verify (see $build/verify-$file.txt): nothing was written to $out"
  done
fi

for file in "${files[@]}"; do
  cp "$build/bin/$file" "$out/$file"
done
(cd "$out" && sha256sum "${files[@]}" >SHA256SUMS)

echo
echo "VarnelKVM $version${suffix:+ (64-bit stand-ins for the tests: not for release)}, in $out:"
(cd "$out" && for file in "${files[@]}"; do
  printf '  %-30s %9s bytes  SHA-256 %s\n' "$file" "$(stat -c %s "$file")" "$(sha256sum "$file" | cut -d' ' -f1)"
done)
echo "  SHA256SUMS"
echo "Built from commit ${commit:-(none: not a git checkout)}, dated $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC') (SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH)."
if [ -n "$uncommitted" ]; then
  echo "The working tree has changes that are not committed: this is not a build of commit $commit, and nobody can build it again from the repository."
fi
if [ -n "$sign_command" ]; then
  echo "SIGNED (SHA-256 Authenticode) with the certificate"
  echo "  subject              $subject"
  echo "  SHA-1 thumbprint     $thumbprint"
  echo "  valid until          $expires"
  echo "every file inside the installers too; each signature above verifies."
  if [ -n "${VARNEL_SIGN_TIMESTAMP_URL:-}" ]; then
    echo "Time-stamped by $VARNEL_SIGN_TIMESTAMP_URL: the signatures stay valid after the certificate expires."
  else
    echo "NOT time-stamped (no VARNEL_SIGN_TIMESTAMP_URL): Windows stops trusting these signatures when the certificate expires."
  fi
else
  echo "NOT SIGNED: no certificate was given (VARNEL_SIGN_PFX). Windows shows these files as from an unknown"
  echo "publisher, and SmartScreen and antivirus programs may warn about or block them. Fine for testing; do not publish."
fi
