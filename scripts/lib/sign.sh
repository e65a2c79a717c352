# Sourced by scripts/release: Authenticode signatures with the organisation's
# code-signing certificate, given through the environment and never kept in
# the repository:
#   MORVANTA_SIGN_PFX            a PKCS#12 file with the certificate and its key
#   MORVANTA_SIGN_PASSWORD_FILE  a file whose first line is its password
#   MORVANTA_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)

# The password's first line without its line end (LF or CR LF), for the
# standard input of openssl and osslsigncode, never their command lines.
signing_password() {
    local line=""
    IFS= read -r line <"$MORVANTA_SIGN_PASSWORD_FILE" || true
    printf '%s' "${line%$'\r'}"
}

# openssl pkcs12 over the certificate. Files exported by older Windows use
# ciphers that OpenSSL 3 keeps as legacy.
read_pkcs12() {
    local legacy
    for legacy in "" -legacy; do
        if [ -n "${MORVANTA_SIGN_PASSWORD_FILE:-}" ]; then
            signing_password | openssl pkcs12 $legacy -in "$MORVANTA_SIGN_PFX" -passin stdin "$@" 2>/dev/null && return 0
        else
            openssl pkcs12 $legacy -in "$MORVANTA_SIGN_PFX" -passin pass: "$@" 2>/dev/null && return 0
        fi
    done
    return 1
}

# Checks that the certificate can sign code before anything is built; says in
# one line on standard error what is wrong with it. osslsigncode itself signs
# with any certificate, a server's too.
check_signing_certificate() {
    local file
    for file in "$MORVANTA_SIGN_PFX" ${MORVANTA_SIGN_PASSWORD_FILE:+"$MORVANTA_SIGN_PASSWORD_FILE"}; do
        if [ ! -r "$file" ] || [ -d "$file" ]; then
            echo "The signing certificate cannot be used: $file does not exist or cannot be read." >&2
            return 1
        fi
    done
    if ! read_pkcs12 -noout >/dev/null; then
        echo "The signing certificate cannot be used: wrong password for $MORVANTA_SIGN_PFX (or not a PKCS#12 file)." >&2
        return 1
    fi
    if ! read_pkcs12 -nocerts -nodes | grep -q 'PRIVATE KEY'; then
        echo "The signing certificate cannot be used: $MORVANTA_SIGN_PFX holds no private key." >&2
        return 1
    fi
    if ! read_pkcs12 -nokeys -clcerts | openssl x509 -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing'; then
        echo "The signing certificate cannot be used: $MORVANTA_SIGN_PFX is not for code signing (its extended key usage lacks Code Signing)." >&2
        return 1
    fi
}

# osslsigncode signs PowerShell files from 2.8 on (and reads a password from
# standard input from 2.9); Debian 12's own is 2.5, its backports' newer.
ensure_script_signing() {
    local version
    version=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
    printf '%s\n' 2.9 "$version" | sort -V -C && return 0
    if apt-cache policy osslsigncode 2>/dev/null | grep -q 'bookworm-backports'; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm-backports osslsigncode >/dev/null 2>&1 &&
            return 0
    fi
    echo "osslsigncode ${version:-is missing and} cannot sign PowerShell files: 2.9 or later is needed (on Debian 12, from bookworm-backports)." >&2
    return 1
}

# Signs each file in place: sign_files FILE...
sign_files() {
    local file options=(-pkcs12 "$MORVANTA_SIGN_PFX" -h sha256)
    [ -n "${MORVANTA_SIGN_PASSWORD_FILE:-}" ] && options+=(-readpass -)
    [ -n "${MORVANTA_SIGN_TIMESTAMP_URL:-}" ] && options+=(-ts "$MORVANTA_SIGN_TIMESTAMP_URL")
    for file in "$@"; do
        if ! { [ -z "${MORVANTA_SIGN_PASSWORD_FILE:-}" ] || signing_password; } |
            osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null; then
            echo "Signing failed: $file" >&2
            rm -f "$file.signed"
            return 1
        fi
        mv "$file.signed" "$file"
    done
}
