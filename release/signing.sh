# Sourced by make-packages.sh: Authenticode signing with osslsigncode.
#
# A real code-signing certificate comes in through the environment:
#   NEROVA_SIGN_CERT            PEM file: the certificate, then its chain
#   NEROVA_SIGN_KEY             PEM file: its private key
#   NEROVA_SIGN_PASS            the key's password, if it has one (optional)
#   NEROVA_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping service (optional),
#                               so signatures outlive the certificate
# Without them a throwaway self-signed certificate is made (and kept) under
# the build directory: good for tests, trusted by nobody.

# signing_setup BUILD_DIR: chooses the certificate; sets signing_cert,
# signing_key and signing_is_test.
signing_setup() {
  local build_dir=$1
  if [ -n "${NEROVA_SIGN_CERT:-}" ] || [ -n "${NEROVA_SIGN_KEY:-}" ]; then
    if [ ! -f "${NEROVA_SIGN_CERT:-}" ] || [ ! -f "${NEROVA_SIGN_KEY:-}" ]; then
      echo "release: NEROVA_SIGN_CERT and NEROVA_SIGN_KEY must both name PEM files" >&2
      return 1
    fi
    signing_cert=$NEROVA_SIGN_CERT
    signing_key=$NEROVA_SIGN_KEY
    signing_is_test=
    return 0
  fi
  signing_cert=$(signing_test_certificate "$build_dir")
  signing_key=$(dirname "$signing_cert")/test-key.pem
  signing_is_test=1
  if [ ! -f "$signing_key" ] || ! openssl x509 -in "$signing_cert" -noout -checkend 86400 >/dev/null 2>&1; then
    mkdir -p "$(dirname "$signing_cert")"
    openssl req -x509 -newkey rsa:3072 -sha256 -nodes -days 365 \
      -subj "/CN=Nerova TEST SIGNING ONLY/O=Nerova" \
      -addext "keyUsage=critical,digitalSignature,keyCertSign" \
      -addext "extendedKeyUsage=codeSigning" \
      -keyout "$signing_key" -out "$signing_cert" >/dev/null 2>&1
  fi
}

# Where the throwaway certificate lives; the release test trusts it there.
signing_test_certificate() {
  echo "$1/release-signing/test-certificate.pem"
}

signing_warn_if_test() {
  [ -n "$signing_is_test" ] || return 0
  cat >&2 <<WARN

########################################################################
# WARNING: SIGNED WITH A THROWAWAY TEST CERTIFICATE - FOR TESTING ONLY
#   $signing_cert
# Windows trusts no signature made with it. For a release, set
# NEROVA_SIGN_CERT and NEROVA_SIGN_KEY to the code-signing certificate.
########################################################################

WARN
}

# sign_file FILE: signs FILE (a PE executable or an MSI) in place.
sign_file() {
  local file=$1 signed="$1.signing"
  local args=(sign -certs "$signing_cert" -key "$signing_key" -h sha256
              -n "Nerova Wireless Receiver Setting")
  [ -n "${NEROVA_SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$NEROVA_SIGN_TIMESTAMP_URL")
  rm -f "$signed"
  if [ -n "${NEROVA_SIGN_PASS:-}" ]; then
    # Read from standard input, so the password shows in no process list.
    printf '%s' "$NEROVA_SIGN_PASS" | osslsigncode "${args[@]}" -readpass /dev/stdin -in "$file" -out "$signed" >/dev/null
  else
    osslsigncode "${args[@]}" -in "$file" -out "$signed" >/dev/null
  fi
  mv "$signed" "$file"
}
