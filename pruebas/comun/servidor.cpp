#include "servidor.h"

#include <ws2tcpip.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Iniciar()
{
    static bool hecho;
    if (!hecho) {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
        hecho = true;
    }
}

static SOCKET Escuchar(int *puerto)
{
    Iniciar();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in dir;
    memset(&dir, 0, sizeof dir);
    dir.sin_family = AF_INET;
    dir.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&dir, sizeof dir);
    int largo = sizeof dir;
    getsockname(s, (sockaddr *)&dir, &largo);
    *puerto = ntohs(dir.sin_port);
    return s;
}

Respuesta Con(int estado, const std::string &cuerpo)
{
    Respuesta r;
    r.estado = estado;
    r.cuerpo = cuerpo;
    return r;
}

std::string UrlSinServidor()
{
    int puerto;
    SOCKET s = Escuchar(&puerto);  // bound, never listening, closed: nothing answers there
    closesocket(s);
    return "http://127.0.0.1:" + std::to_string(puerto) + "/";
}

ServidorGuion::ServidorGuion()
{
    int puerto;
    escucha = Escuchar(&puerto);
    listen(escucha, 16);
    url = "http://127.0.0.1:" + std::to_string(puerto) + "/";
    hilo = std::thread([this] { Bucle(); });
}

ServidorGuion::~ServidorGuion()
{
    closesocket(escucha);
    hilo.join();
    for (std::thread &t : conexiones)
        t.join();
}

void ServidorGuion::Responder(const std::string &ruta, const std::vector<Respuesta> &respuestas)
{
    std::lock_guard<std::mutex> g(cerrojo);
    guion[ruta] = respuestas;
}

void ServidorGuion::Responder(const std::string &ruta, const std::string &cuerpo)
{
    Respuesta r;
    r.cuerpo = cuerpo;
    Responder(ruta, std::vector<Respuesta>{r});
}

std::vector<Peticion> ServidorGuion::Peticiones()
{
    std::lock_guard<std::mutex> g(cerrojo);
    return hechas;
}

void ServidorGuion::Bucle()
{
    for (;;) {
        SOCKET s = accept(escucha, NULL, NULL);
        if (s == INVALID_SOCKET)
            return;
        conexiones.emplace_back([this, s] {
            Atender(s);
            closesocket(s);
        });
    }
}

size_t ServidorGuion::Llegadas()
{
    std::lock_guard<std::mutex> g(cerrojo);
    return hechas.size();
}

static std::string Cabecera(const std::string &pedido, const char *nombre)
{
    std::string buscado = std::string("\r\n") + nombre + ":";
    size_t i = pedido.find(buscado);
    if (i == std::string::npos)
        return "";
    i += buscado.size();
    while (i < pedido.size() && pedido[i] == ' ')
        i++;
    return pedido.substr(i, pedido.find("\r\n", i) - i);
}

static void Enviar(SOCKET s, const char *datos, size_t largo)
{
    while (largo > 0) {
        int n = send(s, datos, (int)(largo > 65536 ? 65536 : largo), 0);
        if (n <= 0)
            return;
        datos += n;
        largo -= n;
    }
}

static const char *Razon(int estado)
{
    switch (estado) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

void ServidorGuion::Atender(SOCKET s)
{
    std::string pedido;
    char b[4096];
    while (pedido.find("\r\n\r\n") == std::string::npos) {
        int n = recv(s, b, sizeof b, 0);
        if (n <= 0)
            return;
        pedido.append(b, n);
    }
    Peticion p;
    size_t a = pedido.find(' ') + 1;
    p.ruta = pedido.substr(a, pedido.find(' ', a) - a);
    p.rango = Cabecera(pedido, "Range");
    p.agente = Cabecera(pedido, "User-Agent");
    Respuesta r;
    size_t numero;
    {
        std::lock_guard<std::mutex> g(cerrojo);
        numero = hechas.size();
        hechas.push_back(p);
        auto it = guion.find(p.ruta);
        if (it == guion.end() || it->second.empty()) {
            r.estado = 404;
        } else {
            r = it->second.front();
            if (it->second.size() > 1)
                it->second.erase(it->second.begin());
        }
    }
    if (r.tras) {
        DWORD inicio = GetTickCount();
        while (Llegadas() < r.tras && GetTickCount() - inicio < 5000)
            Sleep(5);
        bool bien = Llegadas() >= r.tras;
        std::lock_guard<std::mutex> g(cerrojo);
        hechas[numero].esperoBien = bien;
    }
    if (r.demoraMs)
        Sleep(r.demoraMs);
    if (r.estado == 0)
        return;

    int estado = r.estado;
    std::string cuerpo = r.cuerpo;
    std::string extra;
    if (estado == 200 && r.rango && p.rango.compare(0, 6, "bytes=") == 0) {
        unsigned long long desde = strtoull(p.rango.c_str() + 6, NULL, 10);
        if (desde <= cuerpo.size()) {
            estado = 206;
            extra = "Content-Range: bytes " + std::to_string(desde) + "-" + std::to_string(cuerpo.size() - 1) + "/" +
                    std::to_string(cuerpo.size()) + "\r\n";
            cuerpo = cuerpo.substr(desde);
        }
    }
    std::string cabecera = "HTTP/1.1 " + std::to_string(estado) + " " + Razon(estado) + "\r\n" + extra +
                           "Connection: close\r\n";
    if (!r.sinLargo)
        cabecera += "Content-Length: " + std::to_string(cuerpo.size()) + "\r\n";
    cabecera += "\r\n";
    Enviar(s, cabecera.data(), cabecera.size());
    Enviar(s, cuerpo.data(), r.cortarEn < cuerpo.size() ? r.cortarEn : cuerpo.size());
    if (r.colgar) {
        DWORD plazo = 30000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&plazo, sizeof plazo);
        while (recv(s, b, sizeof b, 0) > 0) {
        }
    }
    shutdown(s, SD_SEND);
}
