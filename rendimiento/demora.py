#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that delays everything it relays by half the round trip each way,
standing in for a distant server (this kernel has no netem). A new connection also waits one
round trip before it reaches the server, as a TCP handshake would.
   demora.py PUERTO_PROPIO PUERTO_DESTINO MILISEGUNDOS_IDA_Y_VUELTA
Bandwidth is not limited: only the latency of each request and each connection is added."""
import queue
import socket
import sys
import threading
import time

BLOQUE = 256 * 1024


def tramo(origen, destino, demora):
    """Relays one direction: what is read at time t is sent at t + demora, in order."""
    cola = queue.Queue()

    def leer():
        while True:
            try:
                datos = origen.recv(BLOQUE)
            except OSError:
                datos = b""
            cola.put((time.monotonic() + demora, datos))
            if not datos:
                return

    threading.Thread(target=leer, daemon=True).start()
    while True:
        cuando, datos = cola.get()
        espera = cuando - time.monotonic()
        if espera > 0:
            time.sleep(espera)
        try:
            if not datos:
                destino.shutdown(socket.SHUT_WR)
                return
            destino.sendall(datos)
        except OSError:
            return


def atender(cliente, puerto_destino, demora):
    time.sleep(2 * demora)
    try:
        servidor = socket.create_connection(("127.0.0.1", puerto_destino))
    except OSError:
        cliente.close()
        return
    for s in (cliente, servidor):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    ida = threading.Thread(target=tramo, args=(cliente, servidor, demora), daemon=True)
    ida.start()
    tramo(servidor, cliente, demora)
    ida.join()
    cliente.close()
    servidor.close()


def main():
    propio, destino, ms = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    escucha = socket.socket()
    escucha.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    escucha.bind(("127.0.0.1", propio))
    escucha.listen(64)
    print("listo", flush=True)
    while True:
        cliente, _ = escucha.accept()
        threading.Thread(target=atender, args=(cliente, destino, ms / 2000.0), daemon=True).start()


if __name__ == "__main__":
    main()
