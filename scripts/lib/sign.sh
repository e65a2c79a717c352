# Sourced by scripts/release: Authenticode signatures with the organisation's
# code-signing certificate, given through the environment and never kept in
# the repository. Either a PKCS#12 file:
#   MORVANTA_SIGN_PFX             a PKCS#12 file with the certificate and its key
#   MORVANTA_SIGN_PASSWORD_FILE   a file whose first line is its password
# or a key that never leaves its token or HSM:
#   MORVANTA_SIGN_PKCS11_MODULE   the token's PKCS#11 library
#   MORVANTA_SIGN_KEY             a pkcs11: URI of the private key
#   MORVANTA_SIGN_CERT            the certificate, with its chain, as PEM
#   MORVANTA_SIGN_PIN_FILE        a file whose first line is the PIN
# and for both:
#   MORVANTA_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional)

signing_with_token() {
    [ -n "${MORVANTA_SIGN_PKCS11_MODULE:-}${MORVANTA_SIGN_KEY:-}${MORVANTA_SIGN_CERT:-}" ]
}

# Whether the environment asks for a signed release at all.
signing_requested() {
    [ -n "${MORVANTA_SIGN_PFX:-}" ] || signing_with_token
}

# A secret file's first line without its line end (LF or CR LF), for the
# standard input of openssl and osslsigncode, never their command lines.
first_line() {
    local line=""
    IFS= read -r line <"$1" || true
    printf '%s' "${line%$'\r'}"
}

# The secret that osslsigncode reads from its standard input, if any.
signing_secret() {
    if signing_with_token; then
        [ -n "${MORVANTA_SIGN_PIN_FILE:-}" ] && first_line "$MORVANTA_SIGN_PIN_FILE"
    else
        [ -n "${MORVANTA_SIGN_PASSWORD_FILE:-}" ] && first_line "$MORVANTA_SIGN_PASSWORD_FILE"
    fi
    return 0
}

# openssl pkcs12 over the certificate. Files exported by older Windows use
# ciphers that OpenSSL 3 keeps as legacy.
read_pkcs12() {
    local legacy
    for legacy in "" -legacy; do
        if [ -n "${MORVANTA_SIGN_PASSWORD_FILE:-}" ]; then
            first_line "$MORVANTA_SIGN_PASSWORD_FILE" | openssl pkcs12 $legacy -in "$MORVANTA_SIGN_PFX" -passin stdin "$@" 2>/dev/null && return 0
        else
            openssl pkcs12 $legacy -in "$MORVANTA_SIGN_PFX" -passin pass: "$@" 2>/dev/null && return 0
        fi
    done
    return 1
}

# The signing certificate (the first of a chain) as PEM on standard output.
signing_certificate() {
    if signing_with_token; then
        openssl x509 -in "$MORVANTA_SIGN_CERT" 2>/dev/null
    else
        read_pkcs12 -nokeys -clcerts
    fi
}

# Each file the signing reads, named when missing or unreadable by what it
# is and by the variable that gives it: readable_files VARIABLE...
readable_files() {
    local variable file
    declare -A what=(
        [MORVANTA_SIGN_PFX]='The certificate file (PKCS#12)'
        [MORVANTA_SIGN_PASSWORD_FILE]='The password file'
        [MORVANTA_SIGN_PKCS11_MODULE]='The token library'
        [MORVANTA_SIGN_CERT]='The certificate chain'
        [MORVANTA_SIGN_PIN_FILE]='The PIN file'
    )
    for variable in "$@"; do
        file=${!variable:-}
        [ -n "$file" ] || continue
        if [ ! -r "$file" ] || [ -d "$file" ]; then
            echo "${what[$variable]} in $variable, $file, does not exist or cannot be read." >&2
            return 1
        fi
    done
}

# Checks that the certificate can sign code before anything is built; says in
# one line on standard error what is wrong with it. osslsigncode itself signs
# with any certificate, a server's too.
check_signing_certificate() {
    if signing_with_token; then
        check_token_signing || return 1
    else
        readable_files MORVANTA_SIGN_PFX MORVANTA_SIGN_PASSWORD_FILE || return 1
        if ! read_pkcs12 -noout >/dev/null; then
            echo "The signing certificate cannot be used: wrong password for $MORVANTA_SIGN_PFX (or not a PKCS#12 file)." >&2
            return 1
        fi
        if ! read_pkcs12 -nocerts -nodes | grep -q 'PRIVATE KEY'; then
            echo "The signing certificate cannot be used: $MORVANTA_SIGN_PFX holds no private key." >&2
            return 1
        fi
    fi
    if ! signing_certificate | openssl x509 -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing'; then
        echo "The signing certificate cannot be used: ${MORVANTA_SIGN_CERT:-$MORVANTA_SIGN_PFX} is not for code signing (its extended key usage lacks Code Signing)." >&2
        return 1
    fi
    signing_with_token && ! token_key_matches_certificate && return 1
    return 0
}

# An attribute of the key's pkcs11: URI, percent-decoded; with HEX, as the
# hexadecimal bytes that pkcs11-tool's --id takes.
uri_attribute() { # uri_attribute NAME [hex]
    local path=${MORVANTA_SIGN_KEY#pkcs11:} parts part value="" i
    path=${path%%\?*}
    IFS=';' read -r -a parts <<<"$path"
    for part in "${parts[@]}"; do
        [ "${part%%=*}" = "$1" ] && value=${part#*=}
    done
    if [ "${2:-}" = hex ]; then
        for ((i = 0; i < ${#value}; i++)); do
            if [ "${value:i:1}" = % ]; then
                printf '%s' "${value:i+1:2}" && i=$((i + 2))
            else
                printf '%02x' "'${value:i:1}"
            fi
        done
    else
        printf '%b' "${value//%/\\x}"
    fi
}

# pkcs11-tool on the key's token, logged in with the PIN when there is one.
# The PIN goes through the environment of pkcs11-tool alone, never its
# command line.
token_tool() {
    local options=(--module "$MORVANTA_SIGN_PKCS11_MODULE") label
    label=$(uri_attribute token)
    [ -n "$label" ] && options+=(--token-label "$label")
    if [ -n "${MORVANTA_SIGN_PIN_FILE:-}" ]; then
        MORVANTA_TOKEN_PIN=$(first_line "$MORVANTA_SIGN_PIN_FILE") pkcs11-tool "${options[@]}" --login --pin env:MORVANTA_TOKEN_PIN "$@"
    else
        pkcs11-tool "${options[@]}" "$@"
    fi
}

check_token_signing() {
    local variable log
    for variable in MORVANTA_SIGN_PKCS11_MODULE MORVANTA_SIGN_KEY MORVANTA_SIGN_CERT; do
        if [ -z "${!variable:-}" ]; then
            echo "The signing key cannot be used: $variable is not set (a key in a token needs MORVANTA_SIGN_PKCS11_MODULE, MORVANTA_SIGN_KEY and MORVANTA_SIGN_CERT)." >&2
            return 1
        fi
    done
    if [ -n "${MORVANTA_SIGN_PFX:-}" ]; then
        echo "The signing key cannot be used: give either MORVANTA_SIGN_PFX or a key in a token, not both." >&2
        return 1
    fi
    # The key's URI goes on osslsigncode's command line, where every user
    # can read it.
    if [[ $MORVANTA_SIGN_KEY != pkcs11:* ]] || [[ $MORVANTA_SIGN_KEY == *pin-value=* ]]; then
        echo "The signing key cannot be used: MORVANTA_SIGN_KEY must be a pkcs11: URI without its PIN (the PIN goes in MORVANTA_SIGN_PIN_FILE)." >&2
        return 1
    fi
    readable_files MORVANTA_SIGN_PKCS11_MODULE MORVANTA_SIGN_CERT MORVANTA_SIGN_PIN_FILE || return 1
    if ! openssl x509 -in "$MORVANTA_SIGN_CERT" -noout 2>/dev/null; then
        echo "The signing certificate cannot be used: $MORVANTA_SIGN_CERT holds no PEM certificate." >&2
        return 1
    fi
    if ! log=$(pkcs11-tool --module "$MORVANTA_SIGN_PKCS11_MODULE" --show-info 2>&1); then
        echo "The signing key cannot be used: the PKCS#11 library $MORVANTA_SIGN_PKCS11_MODULE cannot be loaded ($(token_error "$log"))." >&2
        return 1
    fi
    if ! log=$(token_tool --list-objects --type privkey 2>&1); then
        case $log in
        *CKR_PIN_INCORRECT*) echo "The signing key cannot be used: the PIN in $MORVANTA_SIGN_PIN_FILE is wrong." >&2 ;;
        *) echo "The signing key cannot be used: the token cannot be opened ($(token_error "$log"))." >&2 ;;
        esac
        return 1
    fi
    # pkcs11-tool picks a key by its id alone where both are given, so the
    # label and the id are matched here, together.
    if ! awk -v label="$(uri_attribute object)" -v id="$(uri_attribute id hex)" '
        function check() { if (open && (label == "" || seen_label == label) && (id == "" || seen_id == tolower(id))) matched = 1 }
        /^Private Key Object/ { check(); open = 1; seen_label = ""; seen_id = "" }
        /^  label: / { sub(/^  label: +/, ""); seen_label = $0 }
        /^  ID: / { seen_id = tolower($2) }
        END { check(); exit !matched }
        ' <<<"$log"; then
        echo "The signing key cannot be used: $MORVANTA_SIGN_KEY is not in the token." >&2
        return 1
    fi
}

token_error() { # pkcs11-tool's last words
    grep -v -e '^Aborting' -e '^ *$' <<<"$1" | sed -n '${s/^error: //;p}'
}

# Signs a random block with the key in the token (found there already) and
# checks that signature against the certificate's public key: a key that is
# not the certificate's is found before anything is built.
token_key_matches_certificate() {
    local probe options=(--sign) id label rc=0 log
    probe=$(mktemp -d)
    id=$(uri_attribute id hex)
    label=$(uri_attribute object)
    [ -n "$id" ] && options+=(--id "$id")
    [ -n "$label" ] && options+=(--label "$label")
    signing_certificate | openssl x509 -noout -pubkey >"$probe/public.pem"
    if openssl pkey -pubin -in "$probe/public.pem" -noout -text | grep -q '^Modulus:'; then
        options+=(--mechanism SHA256-RSA-PKCS)
    else
        options+=(--mechanism ECDSA-SHA256 --signature-format openssl)
    fi
    head -c 64 /dev/urandom >"$probe/block"
    if ! log=$(token_tool "${options[@]}" --input-file "$probe/block" --output-file "$probe/signature" 2>&1); then
        echo "The signing key cannot be used: the key in the token cannot sign ($(token_error "$log"))." >&2
        rc=1
    elif ! openssl dgst -sha256 -verify "$probe/public.pem" -signature "$probe/signature" "$probe/block" >/dev/null 2>&1; then
        echo "The signing certificate cannot be used: $MORVANTA_SIGN_CERT does not belong to the key $MORVANTA_SIGN_KEY." >&2
        rc=1
    fi
    rm -rf "$probe"
    return $rc
}

# osslsigncode signs PowerShell files from 2.8 on (and reads a password from
# standard input from 2.9); Debian 12's own is 2.5, its backports' newer. A
# key in a token needs pkcs11-tool for the checks and OpenSSL's PKCS#11
# engine for osslsigncode.
ensure_script_signing() {
    local version
    if signing_with_token; then
        install_packages opensc libengine-pkcs11-openssl || return 1
    fi
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
    local file options=(-h sha256)
    if signing_with_token; then
        options+=(-pkcs11module "$MORVANTA_SIGN_PKCS11_MODULE" -certs "$MORVANTA_SIGN_CERT" -key "$MORVANTA_SIGN_KEY")
        [ -n "${MORVANTA_SIGN_PIN_FILE:-}" ] && options+=(-readpass -)
    else
        options+=(-pkcs12 "$MORVANTA_SIGN_PFX")
        [ -n "${MORVANTA_SIGN_PASSWORD_FILE:-}" ] && options+=(-readpass -)
    fi
    [ -n "${MORVANTA_SIGN_TIMESTAMP_URL:-}" ] && options+=(-ts "$MORVANTA_SIGN_TIMESTAMP_URL")
    for file in "$@"; do
        if ! signing_secret | osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null; then
            echo "Signing failed: $file" >&2
            rm -f "$file.signed"
            return 1
        fi
        mv "$file.signed" "$file"
    done
}
