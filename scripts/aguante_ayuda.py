#!/usr/bin/env python3
"""Helpers of scripts/aguante (standard library only).

  aguante_ayuda.py mutar SANO SALIDA SEMILLA CLAVE.priv
      SANO (a signed manifest) mutated at random and signed again with the key.
  aguante_ayuda.py version SANO SALIDA N CLAVE.priv
      SANO with its version line set to N, signed again.
  aguante_ayuda.py servir PUERTO CARPETA SANA REGISTRO
      An HTTP server of the release folder CARPETA that misbehaves on purpose. The first
      segment of a request's path names the fault (see the faults below) and the rest is the
      resource; SANA is the base URL of the sound server that redirects point to; every answer
      is logged to REGISTRO.
"""
import hashlib
import http.server
import os
import random
import secrets
import socket
import socketserver
import struct
import sys
import threading
import time

# P-256, the curve of the engine's signatures.
P = 2**256 - 2**224 + 2**192 + 2**96 - 1
N = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
G = (0x6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296,
     0x4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5)


def sumar(a, b):
    if a is None:
        return b
    if b is None:
        return a
    if a[0] == b[0] and (a[1] + b[1]) % P == 0:
        return None
    if a == b:
        m = (3 * a[0] * a[0] - 3) * pow(2 * a[1], -1, P)
    else:
        m = (b[1] - a[1]) * pow(b[0] - a[0], -1, P)
    x = (m * m - a[0] - b[0]) % P
    return (x, (m * (a[0] - x) - a[1]) % P)


def por(k, punto):
    r = None
    while k:
        if k & 1:
            r = sumar(r, punto)
        punto = sumar(punto, punto)
        k >>= 1
    return r


def firma_hex(texto, d):
    """r then s, 64 hex digits each, over the SHA-256 of the text (the format of the firma line)."""
    e = int.from_bytes(hashlib.sha256(texto).digest(), "big")
    while True:
        k = secrets.randbelow(N - 1) + 1
        r = por(k, G)[0] % N
        s = pow(k, -1, N) * (e + r * d) % N
        if r and s:
            return "%064x%064x" % (r, s)


def privada(ruta):
    with open(ruta) as f:
        return int(f.read().strip()[128:192], 16)


def sin_firma(manifiesto):
    i = manifiesto.rfind(b"\nfirma ")
    return manifiesto[:i + 1] if i >= 0 else manifiesto


def firmado(texto, d):
    return texto + b"firma " + firma_hex(texto, d).encode() + b"\n"


HOSTILES = [b"..\\fuera.txt", b"Recursos\\..\\..\\fuera.txt", b"C:\\fuera.txt", b"\\\\equipo\\c\\fuera",
            b"Recursos\\Local\\Actualizador\\version.txt", b"Recursos\\Avanzado\\ServidorDescargas.txt",
            b"Recursos/../../fuera.txt", b"CON", b"Recursos\\aux.dat", b"a:b", b"Recursos\\ ",
            b"x" * 300, b"Recursos\\*.dat", b"", b"\\raiz.dat", b"Recursos\\\x01.dat", b"version 9",
            b"borrar Recursos", b"oculto Brumaria.exe"]
NUMEROS = [b"99999999999999999999999", b"4294967296", b"18446744073709551615", b"18446744073709551616",
           b"-1", b"0", b"00000000000000000001", b"1e9", b" 5", b"0x10", b""]


def mutar(texto, azar):
    lineas = texto.split(b"\n")[:-1]
    clase = azar.randrange(9)
    if clase == 0:  # bytes flipped anywhere
        d = bytearray(texto)
        for _ in range(azar.randint(1, 8)):
            d[azar.randrange(len(d))] = azar.randrange(256)
        return bytes(d)
    if clase == 1:  # cut short
        return texto[:azar.randrange(len(texto))]
    if clase == 2:  # a line doubled, or the same path with another content
        i = azar.randrange(len(lineas))
        otra = lineas[i]
        if azar.randrange(2) and otra.count(b"|") == 2:
            campos = otra.split(b"|")
            otra = campos[0].upper() + b"|" + campos[1] + b"|" + campos[2]
        lineas.insert(azar.randrange(len(lineas) + 1), otra)
    elif clase == 3:  # lines removed
        for _ in range(azar.randint(1, 4)):
            if lineas:
                del lineas[azar.randrange(len(lineas))]
    elif clase == 4:  # lines reordered
        azar.shuffle(lineas)
    elif clase == 5:  # a hostile path
        i = azar.randrange(2, len(lineas))
        campos = lineas[i].split(b"|")
        lineas[i] = b"|".join([azar.choice(HOSTILES)] + campos[1:])
    elif clase == 6:  # a huge or odd number: the size, or the version
        i = azar.randrange(1, len(lineas))
        campos = lineas[i].split(b"|")
        if len(campos) == 3:
            campos[1] = azar.choice(NUMEROS)
            lineas[i] = b"|".join(campos)
        else:
            lineas[i] = b"version " + azar.choice(NUMEROS)
    elif clase == 7:  # bad hex in a digest
        i = azar.randrange(2, len(lineas))
        campos = lineas[i].split(b"|")
        if len(campos) == 3:
            malo = azar.choice([campos[2].upper(), campos[2][:-1], campos[2] + b"0", b"g" + campos[2][1:],
                                campos[2][:32], b"0" * 64, campos[2].replace(b"a", b" ")])
            lineas[i] = b"|".join(campos[:2] + [malo])
    else:  # stray separators, blanks, carriage returns and empty lines
        i = azar.randrange(len(lineas))
        lineas[i] = azar.choice([lineas[i] + b"|", lineas[i] + b"\r", b" " + lineas[i], lineas[i].replace(b"|", b"||", 1),
                                 b"", lineas[i] + b"\x00"])
    return b"\n".join(lineas) + b"\n"


def leer(ruta):
    with open(ruta, "rb") as f:
        return f.read()


def escribir(ruta, datos):
    with open(ruta + ".tmp", "wb") as f:
        f.write(datos)
    os.replace(ruta + ".tmp", ruta)


# Faults: the first letter of the path's first segment says what they touch (m the manifest, b
# the file bodies), the rest what happens: 404, 500, 503, 429, 416 (that status), 200 (a resumed
# body sent whole), 206 (a manifest sent as partial), corto (cut short after its Content-Length),
# cortosin (cut short without one), reset, parado (stalled for 40 s), sinfin (an endless body),
# digesto (the right length, other bytes; for the manifest, a broken signature), redir (a
# redirect to the sound server). Body faults hit every body from the third one asked for on, so
# two bodies arrive whole first; with "una" appended a fault hits only the first request (of the
# manifest, or of the third body).


class Servidor(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    vistos = {}
    pedidos = set()
    cerrojo = threading.Lock()

    def log_message(self, *args):
        pass

    def log_request(self, code="-", size="-"):
        # One line per answer: the path, the Range asked for and the status.
        with self.cerrojo, open(self.server.registro, "a") as f:
            f.write("%s range=%s %s\n" % (self.path, self.headers.get("Range", "-"), code))

    def enviar(self, estado, datos, largo=True, cabeceras=()):
        self.send_response(estado)
        for nombre, valor in cabeceras:
            self.send_header(nombre, valor)
        if largo:
            self.send_header("Content-Length", str(len(datos)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(datos)

    def empezar(self, datos, inicio):
        # The answer to a request from `inicio` on, promised whole, with only its first 1000 bytes.
        self.send_response(206 if inicio else 200)
        self.send_header("Content-Length", str(len(datos) - inicio))
        self.end_headers()
        self.wfile.write(datos[inicio:][:1000])
        self.wfile.flush()

    def cortar(self):
        # A reset rather than an orderly close: the peer sees the connection broken.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True

    def do_GET(self):
        partes = self.path.lstrip("/").split("/", 1)
        if len(partes) != 2 or len(partes[0]) < 2:
            return self.enviar(404, b"")
        blanco, fallo, recurso = partes[0][0], partes[0][1:], partes[1]
        ruta = os.path.join(self.server.carpeta, *recurso.split("/"))
        if ".." in recurso.split("/") or not os.path.isfile(ruta):
            return self.enviar(404, b"")
        datos = leer(ruta)
        inicio = 0
        rango = self.headers.get("Range", "")
        if rango.startswith("bytes=") and rango.endswith("-"):
            inicio = int(rango[6:-1])
        es_cuerpo = recurso.startswith("a/")
        toca = (blanco == "m") != es_cuerpo
        una = fallo.endswith("una")
        if una:
            fallo = fallo[:-3]
        if toca and es_cuerpo:
            with self.cerrojo:
                vistos = self.vistos.setdefault(partes[0], [])
                if recurso not in vistos:
                    vistos.append(recurso)
                # A resumed body sent whole costs a pause per body, so only the third gets it.
                toca = vistos.index(recurso) == 2 if fallo == "200" else vistos.index(recurso) >= 2
                if una and toca:
                    toca = partes[0] not in self.pedidos
                    self.pedidos.add(partes[0])
        elif toca and una:
            with self.cerrojo:
                toca = partes[0] not in self.pedidos
                self.pedidos.add(partes[0])
        if not toca:
            return self.sano(datos, inicio)
        if fallo in ("404", "500", "503", "429", "416"):
            return self.enviar(int(fallo), b"")
        if fallo == "200":  # the whole body again where a rest was asked for
            if inicio == 0:  # the first request is cut, so that the next one resumes
                self.enviar(200, datos[:len(datos) // 2], largo=False, cabeceras=[("Content-Length", str(len(datos)))])
                return self.cortar()
            return self.enviar(200, datos)
        if fallo == "206":
            return self.enviar(206, datos, cabeceras=[("Content-Range", "bytes 0-%d/%d" % (len(datos) - 1, len(datos)))])
        if fallo == "corto":  # the promised length, half of it sent
            resto = datos[inicio:]
            self.send_response(206 if inicio else 200)
            self.send_header("Content-Length", str(len(resto)))
            self.end_headers()
            self.wfile.write(resto[:len(resto) // 2])
            self.close_connection = True
            return
        if fallo == "cortosin":  # no length and the connection closed half way
            return self.enviar(206 if inicio else 200, datos[inicio:][:len(datos[inicio:]) // 2], largo=False)
        if fallo == "reset":
            self.empezar(datos, inicio)
            return self.cortar()
        if fallo == "parado":
            self.empezar(datos, inicio)
            time.sleep(40)
            self.close_connection = True
            return
        if fallo == "sinfin":  # a body with no end
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            bloque = b"\xa5" * 65536
            try:
                for _ in range(16384):
                    self.wfile.write(bloque)
            except OSError:
                pass
            return
        if fallo == "digesto":  # the right length, other bytes
            otro = bytearray(datos)
            otro[len(otro) // 2] ^= 0xFF
            if not es_cuerpo:
                otro = bytearray(datos[:-10] + b"0" * 9 + b"\n")
            return self.sano(bytes(otro), inicio)
        if fallo == "redir":
            return self.enviar(302, b"", cabeceras=[("Location", self.server.sana + recurso)])
        return self.enviar(404, b"")

    def sano(self, datos, inicio):
        if 0 < inicio < len(datos):
            return self.enviar(206, datos[inicio:],
                               cabeceras=[("Content-Range", "bytes %d-%d/%d" % (inicio, len(datos) - 1, len(datos)))])
        if inicio:
            return self.enviar(416, b"")
        return self.enviar(200, datos)


class Hilos(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    orden = sys.argv[1]
    if orden == "mutar":
        sano, salida, semilla, clave = sys.argv[2:6]
        azar = random.Random(int(semilla))
        texto = mutar(sin_firma(leer(sano)), azar)
        # A few cases keep the mutated text under the sound signature instead.
        datos = firmado(texto, privada(clave)) if azar.randrange(20) else texto + leer(sano)[len(sin_firma(leer(sano))):]
        escribir(salida, datos)
    elif orden == "version":
        sano, salida, numero, clave = sys.argv[2:6]
        lineas = sin_firma(leer(sano)).split(b"\n")
        lineas[1] = b"version " + numero.encode()
        escribir(salida, firmado(b"\n".join(lineas), privada(clave)))
    elif orden == "servir":
        puerto, carpeta, sana, registro = sys.argv[2:6]
        servidor = Hilos(("127.0.0.1", int(puerto)), Servidor)
        servidor.carpeta = carpeta
        servidor.sana = sana
        servidor.registro = registro
        servidor.serve_forever()
    else:
        sys.exit("uso: aguante_ayuda.py mutar|version|servir ...")


if __name__ == "__main__":
    main()
