#!/usr/bin/env bash
# The release command (scripts/release.sh) with a throwaway code-signing
# certificate and a time-stamp server of the test's own:
# - a wrong password, a certificate for web servers only, and a time-stamp
#   server that does not answer each stop it, saying why, with nothing in OUT;
# - every file it ships, every program and DLL inside the Setup program
#   (helpers, NSIS's plug-ins, the uninstaller as packed), the files the
#   package installs and its custom-action DLL are signed with the
#   certificate and time-stamped; SHA256SUMS matches; the end names the
#   certificate's thumbprint;
# - the uninstaller and the files a silent install under Wine leaves in the
#   install folder are signed. Where the machine runs no 32-bit programs that
#   install is of the 64-bit stand-in Setup program, released the same way;
# - an unsigned release says so, and its applet and hook library are the
#   signed ones' bytes less the signature (README, "Verify a download").
#   signed-release.sh WORK
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$1
source "$root/scripts/wine-env.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
release() { VARNEL_RELEASE_BUILD_DIR=$work/build bash "$root/scripts/release.sh" "$@"; }

certificate() {  # NAME USAGE
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 \
    -subj "/CN=VarnelKVM test $1" -addext "extendedKeyUsage=$2" 2>/dev/null
}
certificate signer codeSigning
certificate web serverAuth
certificate tsa critical,timeStamping
for name in signer web; do
  openssl pkcs12 -export -inkey "$name.key" -in "$name.pem" -out "$name.pfx" -passout pass:test-password
done
printf '[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\nserial = serial\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\ness_cert_id_alg = sha256\n' >tsa.cnf
python3 "$root/tests/release/time-stamp-server.py" >tsa.port &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null; wineserver -k >/dev/null 2>&1 || true' EXIT
for _ in $(seq 50); do [ -s tsa.port ] && break; sleep 0.1; done
export VARNEL_SIGN_PASSWORD=test-password VARNEL_SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat tsa.port)/

signed() {  # FILE: signed by the test's certificate, with a time stamp of its server
  local report
  report=$(osslsigncode verify -CAfile signer.pem -TSA-CAfile tsa.pem -in "$1" 2>&1) &&
    grep -q "^Signature verification: ok" <<<"$report" &&
    grep -q "^Timestamp Server Signature verification: ok" <<<"$report" ||
    fail "$1 is not signed and time-stamped with the test's certificate: $(tail -n 3 <<<"$report" | xargs)"
}

# PFX  PASSWORD  TIME-STAMP SERVER  what the release says
while read -r pfx password server message; do
  mkdir -p refused && touch refused/VarnelKVM.exe  # as if from an earlier release
  if VARNEL_SIGN_PFX=$pfx VARNEL_SIGN_PASSWORD=$password VARNEL_SIGN_TIMESTAMP_URL=${server#-} \
       release refused </dev/null >refused.txt 2>&1; then
    fail "$pfx, $password, $server: the release went ahead"
  fi
  grep -q "$message" refused.txt || fail "$pfx, $password, $server: no \"$message\" in: $(cat refused.txt)"
  [ -z "$(ls -A refused)" ] || fail "$pfx, $password, $server: left in OUT: $(ls refused)"
done <<'EOF'
signer.pfx wrong-password - does not open with VARNEL_SIGN_PASSWORD
web.pfx    test-password  - cannot sign code: its extended key usage is TLS Web Server Authentication
signer.pfx test-password  http://127.0.0.1:1/ could not sign
EOF

VARNEL_SIGN_PFX=signer.pfx release dist | tee release.txt
thumbprint=$(openssl x509 -noout -fingerprint -sha1 -in signer.pem | sed 's/.*=//; s/://g')
grep -q "SHA-1 thumbprint *$thumbprint" release.txt || fail "the release does not name the thumbprint $thumbprint"
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
[ "$(cut -d' ' -f3 dist/SHA256SUMS | sort | xargs)" = "$(ls dist | grep -v SHA256SUMS | sort | xargs)" ] ||
  fail "SHA256SUMS does not list every file: $(cat dist/SHA256SUMS)"
setup=$(ls "$work"/dist/VarnelKVM-Setup-*.exe)
msi=$(ls dist/VarnelKVM-*.msi)
7zz x -osetup "$setup" >/dev/null
mkdir package && (cd package && msiextract "../$msi" >/dev/null &&
                  msiinfo extract "../$msi" Binary.EndRunningCopiesDll >EndRunningCopies.dll)
for file in dist/* setup/Uninstall.exe 'setup/$PLUGINSDIR/DesktopUser.exe' 'setup/$PLUGINSDIR/System.dll' \
            "package/Program Files/VarnelKVM/VarnelKVM.exe" "package/Program Files/VarnelKVM/Quillhook.dll" \
            package/EndRunningCopies.dll; do
  [ "$file" = dist/SHA256SUMS ] || [ -f "$file" ] || fail "$file: not there"
done
while read -r file; do
  signed "$file"
done < <(find dist setup package -type f \( -iname '*.exe' -o -iname '*.dll' -o -iname '*.msi' \))

# The silent install's uninstaller, as Windows would run it.
if uses_64bit_fallback; then
  echo "This machine runs no 32-bit programs: installing the 64-bit stand-in Setup program, released the same way."
  VARNEL_SIGN_PFX=signer.pfx VARNEL_RELEASE_ARCH=x86_64 release dist-x64 >/dev/null
  setup=$(ls "$work"/dist-x64/VarnelKVM-Setup-*-x64.exe)
  "$root/scripts/setup-debian.sh" wine64
  use_64bit_wine "$work/wine-loader"
fi
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
private_desktop "$work/prefix" --fresh --on-this-display
wine "$setup" /S || fail "$setup /S ended with $?"
installed="$WINEPREFIX/drive_c/Program Files/VarnelKVM"
echo "Installed by $setup /S: $(ls "$installed" | xargs)"
for file in Uninstall.exe VarnelKVM.exe Quillhook.dll; do
  [ -f "$installed/$file" ] && signed "$installed/$file" || fail "$file: not installed"
done

VARNEL_SIGN_PFX= release unsigned | tee unsigned.txt
grep -q "^NOT SIGNED" unsigned.txt || fail "the unsigned release does not say so"
for file in VarnelKVM.exe Quillhook.dll; do
  ! osslsigncode verify -in "unsigned/$file" >/dev/null 2>&1 || fail "unsigned/$file is signed"
  osslsigncode remove-signature -in "dist/$file" -out "stripped-$file" >/dev/null
  cmp "stripped-$file" "unsigned/$file" || fail "$file: the signed one less its signature is not the unsigned one"
done

end_private_desktop
[ $failures -eq 0 ] && rm -rf "$work"
exit $((failures > 0))
