#!/usr/bin/env bash
# The HTTPS servers of a test run: one nginx each on 127.0.0.1 (scripts/servir), all serving
# ESTADO/raiz, where the tests publish their releases, with the certificates that
# certificados.sh left in ESTADO:
#   bueno        the localhost certificate of the CA the test prefix trusts
#   ajena        a localhost certificate of a CA nobody trusts
#   vencido      an expired localhost certificate of the trusted CA
#   otro_nombre  a certificate of the trusted CA for another name
#   tls13        the good certificate, TLS 1.3 and nothing older
#   plano        plain HTTP, as a client meets it on a port it takes for TLS
# Each gets a free port, written to ESTADO/puertos as "name port" lines for the tests.
#   servidores.sh ESTADO           stops what an earlier run left, starts these
#   servidores.sh --parar ESTADO   stops them
set -euo pipefail
servir=$(cd "$(dirname "$0")/../.." && pwd)/scripts/servir
nombres="bueno ajena vencido otro_nombre tls13 plano"

parar() {
  for n in $nombres; do "$servir" --parar "$1/nginx-$n"; done
}
if [ "$1" = "--parar" ]; then
  parar "$2"
  exit 0
fi

estado=$(cd "$1" && pwd)
parar "$estado"
# Logs and releases of this run only: the tests read what the servers logged.
rm -rf "$estado/raiz" "$estado/puertos" "$estado"/nginx-*/*.log
mkdir -p "$estado/raiz"
libre() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for n in $nombres; do
  case $n in
    bueno) tls=(--tls "$estado/localhost.pem" "$estado/localhost.key") ;;
    ajena) tls=(--tls "$estado/ajena.pem" "$estado/ajena.key") ;;
    vencido) tls=(--tls "$estado/vencido.pem" "$estado/vencido.key") ;;
    otro_nombre) tls=(--tls "$estado/otro-nombre.pem" "$estado/otro-nombre.key") ;;
    tls13) tls=(--tls "$estado/localhost.pem" "$estado/localhost.key" --protocolos TLSv1.3) ;;
    plano) tls=() ;;
  esac
  # Another run on this machine may take a port between the probe and nginx's bind.
  for intento in $(seq 20); do
    puerto=$((20000 + RANDOM % 20000))
    libre "$puerto" && "$servir" "$estado/raiz" "$puerto" "$estado/nginx-$n" "${tls[@]}" 2>/dev/null && break
    [ "$intento" -eq 20 ] && { echo "servidores: no free port for $n" >&2; parar "$estado"; exit 1; }
  done
  echo "$n $puerto" >>"$estado/puertos"
done
cat "$estado/puertos"
