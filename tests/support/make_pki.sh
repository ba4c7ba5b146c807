#!/bin/sh
# Makes the TLS tests' small PKI in DIR with the openssl command line:
#   make_pki.sh DIR KEYDIR
# A root CA and an intermediate, and leaves issued by the intermediate, all
# with RSA 2048 keys (the key type every Schannel and CryptoAPI imports) and
# SHA-256 signatures. The leaves share one key, the self-signed one has its
# own. Keys take a while to make: they are kept in KEYDIR, made there when
# missing, so that each PKI of a build has new certificates on the same
# keys. For each NAME it writes
# NAME.pem, NAME.key (PKCS#8), NAME.der and, for leaves, NAME-chain.pem
# (leaf then intermediate):
#   server     localhost and 127.0.0.1, valid for a year
#   expired    ended yesterday         expiring   ends in 10 days
#   otherhost  other.zu.test           clientonly client authentication only
#   wildcard   *.zu.test               untrusted  self-signed, trusted by nobody
# PFX files of a leaf's key, certificate and the intermediate:
# server-empty.pfx and expiring.pfx (empty password), server-nopass.pfx and
# expired.pfx (no password: neither encrypted nor MAC'd), secret.pfx
# (server's, password "secret").
set -eu
dir=$1
keys=$2
mkdir -p "$dir/issued" "$keys"
# Made beside and moved into place: a test running at the same time reads
# a whole key or none.
for name in ca intermediate leaf self; do
  if [ ! -f "$keys/$name.key" ]; then
    openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$keys/$name.key.$$"
    mv "$keys/$name.key.$$" "$keys/$name.key"
  fi
  cp "$keys/$name.key" "$dir/$name.key"
done
cd "$dir"
: >index.txt
# The leaves' extensions, set for each below.
export ZU_USAGE=serverAuth ZU_NAMES=DNS:localhost

cat >pki.cnf <<'EOF'
[ca]
default_ca = zu
[zu]
database = index.txt
new_certs_dir = issued
serial = serial.txt
rand_serial = yes
default_md = sha256
policy = any
unique_subject = no
[any]
organizationName = supplied
commonName = supplied
[req]
distinguished_name = dn
[dn]
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = $ENV::ZU_USAGE
subjectAltName = $ENV::ZU_NAMES
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

day() { date -u -d "$1 days" +%Y%m%d%H%M%SZ; }
der() { openssl x509 -in "$1.pem" -outform DER -out "$1.der"; }

# issue NAME KEY COMMONNAME FROMDAYS UNTILDAYS EXTENSIONS SIGNER ("self": self-signed)
issue() {
  openssl req -new -config pki.cnf -key "$2.key" -subj "/O=zu tests/CN=$3" -out "$1.csr"
  if [ "$7" = self ]; then signer="-selfsign -keyfile $2.key"; else signer="-cert $7.pem -keyfile $7.key"; fi
  openssl ca -batch -notext -config pki.cnf $signer -in "$1.csr" -out "$1.pem" \
    -startdate "$(day "$4")" -enddate "$(day "$5")" -extensions "$6" 2>/dev/null
  der "$1"
}

issue ca ca "zu test root" -30 3650 authority self
issue intermediate intermediate "zu test intermediate" -30 3650 authority ca

local_names="DNS:localhost,IP:127.0.0.1"
# leaf NAME COMMONNAME NAMES USAGE FROMDAYS UNTILDAYS [KEY SIGNER]
leaf() {
  cp "${7:-leaf}.key" "$1.key"
  ZU_NAMES=$3 ZU_USAGE=$4 issue "$1" "$1" "$2" "$5" "$6" leaf "${8:-intermediate}"
  cat "$1.pem" intermediate.pem >"$1-chain.pem"
}
leaf server localhost "$local_names" serverAuth -1 365
leaf expired localhost "$local_names" serverAuth -30 -1
leaf expiring localhost "$local_names" serverAuth -1 10
leaf otherhost other.zu.test DNS:other.zu.test serverAuth -1 365
leaf clientonly localhost "$local_names" clientAuth -1 365
leaf wildcard wildcard "DNS:*.zu.test" serverAuth -1 365
leaf untrusted localhost "$local_names" serverAuth -1 365 self self

# pfx NAME FILE PASSWORD [OPTIONS]
pfx() {
  openssl pkcs12 -export -in "$1.pem" -inkey "$1.key" -certfile intermediate.pem -name "$1" \
    -passout "pass:$3" -out "$2" ${4:-}
}
unprotected="-keypbe NONE -certpbe NONE -nomac"
pfx server server-empty.pfx ""
pfx server server-nopass.pfx "" "$unprotected"
pfx server secret.pfx secret
pfx expiring expiring.pfx ""
pfx expired expired.pfx "" "$unprotected"
