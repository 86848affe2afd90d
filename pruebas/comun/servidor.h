// A scripted HTTP server on 127.0.0.1 inside the test program. Each test says what each
// request of a path gets, in order (the last answer repeats), and reads afterwards what every
// request carried, in the order they came. Connections are served at once, each on a thread.
#ifndef PRUEBAS_SERVIDOR_H
#define PRUEBAS_SERVIDOR_H

#include <winsock2.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Respuesta {
    int estado = 200;            // 0: close the connection without an answer
    std::string cuerpo;
    bool rango = true;           // answer a "Range: bytes=N-" with 206 and the rest of the body
    size_t cortarEn = std::string::npos;  // close after this many body bytes
    bool sinLargo = false;       // no Content-Length: the body ends when the connection closes
    unsigned demoraMs = 0;       // wait this long before answering (a stall)
    bool colgar = false;         // after the cut, hold the connection until the client drops it
    size_t tras = 0;             // answer only once this many requests came in all (5 s at most)
};

// An answer with this status and body.
Respuesta Con(int estado, const std::string &cuerpo = "");

struct Peticion {
    std::string ruta;    // "/manifiesto.txt"
    std::string rango;   // value of the Range header, "" without one
    std::string agente;  // value of the User-Agent header
    bool esperoBien = false;  // its answer waited for `tras` requests, and they came in time
};

struct ServidorGuion {
    ServidorGuion();
    ~ServidorGuion();
    // "http://127.0.0.1:PORT/"
    std::string url;
    void Responder(const std::string &ruta, const std::vector<Respuesta> &respuestas);
    void Responder(const std::string &ruta, const std::string &cuerpo);
    std::vector<Peticion> Peticiones();

  private:
    void Atender(SOCKET s);
    void Bucle();
    size_t Llegadas();
    SOCKET escucha;
    std::thread hilo;
    std::vector<std::thread> conexiones;
    std::mutex cerrojo;
    std::map<std::string, std::vector<Respuesta>> guion;
    std::vector<Peticion> hechas;
};

// A URL on 127.0.0.1 where nothing listens.
std::string UrlSinServidor();

#endif
