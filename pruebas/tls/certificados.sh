#!/usr/bin/env bash
# Throwaway certificates for serving over TLS on this machine: a CA that one Wine prefix is
# told to trust (never this machine's own store), and the server certificates the tests need.
# They are valid for two days and live in the build folder only.
#   certificados.sh CARPETA
# writes into CARPETA:
#   ca.pem, ca.der        the CA; ca.der is what confiar_ca.exe adds to a prefix's Root store
#   localhost.pem/.key    for DNS:localhost, issued by the CA
#   vencido.pem/.key      for DNS:localhost, issued by the CA, expired a year ago
#   otro-nombre.pem/.key  for DNS:otro.invalid only, issued by the CA
#   ajena.pem/.key        for DNS:localhost, issued by a second CA that nobody trusts
set -euo pipefail
carpeta=$1
mkdir -p "$carpeta"
cd "$carpeta"
umask 077
rm -rf firmas
mkdir firmas

clave() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
autoridad() {
  clave "$1"
  openssl req -x509 -new -key "$1.key" -out "$1.pem" -days 2 -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
# A server certificate: nombre, issuing CA, DNS name, then openssl ca's validity options.
# openssl ca is used because it alone can give a validity window in the past.
servidor() {
  local nombre=$1 ca=$2 dns=$3
  shift 3
  clave "$nombre"
  openssl req -new -key "$nombre.key" -out "firmas/$nombre.csr" -subj "/CN=$dns"
  : >firmas/indice
  cat >firmas/ca.cnf <<CNF
[ca]
default_ca = prueba
[prueba]
database = firmas/indice
new_certs_dir = firmas
rand_serial = yes
default_md = sha256
policy = libre
unique_subject = no
copy_extensions = none
x509_extensions = servidor
[libre]
commonName = supplied
[servidor]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:$dns
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF
  openssl ca -batch -notext -config firmas/ca.cnf -cert "$ca.pem" -keyfile "$ca.key" \
    -in "firmas/$nombre.csr" -out "$nombre.pem" "$@" 2>/dev/null
}

autoridad ca "Brumaria CA de prueba"
autoridad ca-ajena "CA que nadie conoce"
openssl x509 -in ca.pem -outform DER -out ca.der
servidor localhost ca localhost -days 2
servidor vencido ca localhost -startdate 20240101000000Z -enddate 20240102000000Z
servidor otro-nombre ca otro.invalid -days 2
servidor ajena ca-ajena localhost -days 2
# The CAs' keys are not needed again: nothing more is ever issued.
rm -rf firmas ca.key ca-ajena.key
