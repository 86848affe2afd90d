// GETs of one URL, streamed block by block into a sink: one at a time on the run's session, or
// several at once on its asynchronous session.
#include "interno.h"

#include <stdio.h>

// Whether the body of an answer with `estado` is to be read; when not, `*fin` is the
// transfer's result: that status, or 0 when the sink could not start over. A 200 after a
// ranged request means the server sends the whole body again, so the sink first drops what it
// held.
static int EmpezarCuerpo(DWORD estado, ULONGLONG desde, SumideroFn sumidero, Sumidero *s, DWORD *fin)
{
    *fin = estado == 200 || estado == 206 ? 0 : estado;
    if (*fin || !estado)
        return 0;
    return !(estado == 200 && desde) || sumidero(s, NULL, 0);
}

// Reads the body into the sink.
static DWORD LeerCuerpo(HINTERNET peticion, DWORD estado, ULONGLONG desde, SumideroFn sumidero,
                        Sumidero *s)
{
    DWORD fin;
    if (!EmpezarCuerpo(estado, desde, sumidero, s, &fin))
        return fin;
    BYTE *bloque = (BYTE *)Pedir(BLOQUE_HTTP);
    if (!bloque)
        return 0;
    // A connection closed early ends the body like its end: only the announced length tells.
    DWORD anunciado = 0, tam = sizeof anunciado;
    int conLargo = WinHttpQueryHeaders(peticion, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &anunciado, &tam, WINHTTP_NO_HEADER_INDEX);
    ULONGLONG recibidos = 0;
    DWORD resultado = estado;
    for (;;) {
        DWORD leidos = 0;
        if (!WinHttpReadData(peticion, bloque, BLOQUE_HTTP, &leidos)) {
            resultado = 0;
            break;
        }
        if (leidos == 0) {
            s->corto = conLargo && recibidos < anunciado;
            break;
        }
        recibidos += leidos;
        if (!sumidero(s, bloque, leidos)) {
            resultado = 0;
            break;
        }
    }
    Soltar(bloque);
    return resultado;
}

// Opens the GET of `url` on a session, asking from byte `desde` on. 0 when it cannot.
static int AbrirPeticion(HINTERNET de, const char *url, ULONGLONG desde, HINTERNET *conexion,
                         HINTERNET *peticion)
{
    wchar_t urlW[LARGO_URL];
    if (!MultiByteToWideChar(CP_ACP, 0, url, -1, urlW, LARGO_URL))
        return 0;
    wchar_t host[256], camino[1024];
    URL_COMPONENTS partes;
    ZeroMemory(&partes, sizeof partes);
    partes.dwStructSize = sizeof partes;
    partes.lpszHostName = host;
    partes.dwHostNameLength = 256;
    partes.lpszUrlPath = camino;
    partes.dwUrlPathLength = 1024;
    if (!WinHttpCrackUrl(urlW, 0, 0, &partes))
        return 0;
    if (partes.nScheme != INTERNET_SCHEME_HTTP && partes.nScheme != INTERNET_SCHEME_HTTPS)
        return 0;
    *conexion = WinHttpConnect(de, host, partes.nPort, 0);
    if (!*conexion)
        return 0;
    *peticion = WinHttpOpenRequest(*conexion, L"GET", camino, NULL, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   partes.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!*peticion) {
        WinHttpCloseHandle(*conexion);
        *conexion = NULL;
        return 0;
    }
    // The whole 64-bit offset, so that a body over 4 GiB resumes where it stopped.
    if (desde) {
        wchar_t rango[48];
        _snwprintf(rango, 48, L"Range: bytes=%I64u-", desde);
        rango[47] = 0;
        WinHttpAddRequestHeaders(*peticion, rango, (DWORD)-1, WINHTTP_ADDREQ_FLAG_ADD);
    }
    return 1;
}

static DWORD Estado(HINTERNET peticion)
{
    DWORD estado = 0, tam = sizeof estado;
    if (!WinHttpQueryHeaders(peticion, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &estado, &tam, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return estado;
}

DWORD HttpBajar(const char *url, ULONGLONG desde, SumideroFn sumidero, Sumidero *s)
{
    s->corto = 0;
    HINTERNET conexion, peticion;
    if (!AbrirPeticion(sesion, url, desde, &conexion, &peticion))
        return 0;
    DWORD resultado = 0;
    if (WinHttpSendRequest(peticion, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(peticion, NULL))
        resultado = LeerCuerpo(peticion, Estado(peticion), desde, sumidero, s);
    WinHttpCloseHandle(peticion);
    WinHttpCloseHandle(conexion);
    return resultado;
}

// ---- transfers on the asynchronous session ----

// Runs on a WinHTTP thread: records what completed and wakes the engine's thread, which does
// everything else. The flag is set before the event, so a wake never finds it unset.
static void CALLBACK AlCompletar(HINTERNET, DWORD_PTR contexto, DWORD que, LPVOID info, DWORD largo)
{
    Transferencia *t = (Transferencia *)contexto;
    if (!t)
        return;
    if (que == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        InterlockedExchange(&t->soltada, 1);
    } else if (que == WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE ||
               que == WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE || que == WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE ||
               que == WINHTTP_CALLBACK_STATUS_READ_COMPLETE || que == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
        t->paso = que;
        t->leidos = que == WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE ? *(DWORD *)info : largo;
        InterlockedExchange(&t->completada, 1);
    } else {
        return;
    }
    SetEvent(avisoHttp);
}

// The transfer ends with `estado` (0 for a failure); the caller closes it.
static int Terminar(Transferencia *t, DWORD estado)
{
    t->estado = estado;
    t->enCurso = 0;
    return 0;
}

int EmpezarTransferencia(Transferencia *t, const char *url, ULONGLONG desde)
{
    t->completada = t->soltada = 0;
    t->estado = 0;
    t->desde = desde;
    t->enCurso = 1;
    t->conexion = t->peticion = NULL;
    t->bloque = (BYTE *)Pedir(BLOQUE_HTTP);
    if (!t->bloque || !AbrirPeticion(sesionAsincrona, url, desde, &t->conexion, &t->peticion))
        return Terminar(t, 0);
    DWORD_PTR contexto = (DWORD_PTR)t;
    WinHttpSetOption(t->peticion, WINHTTP_OPTION_CONTEXT_VALUE, &contexto, sizeof contexto);
    if (WinHttpSetStatusCallback(t->peticion, AlCompletar,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK ||
        !WinHttpSendRequest(t->peticion, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, contexto))
        return Terminar(t, 0);
    return 1;
}

// What the block holds goes to the sink; 0 when the sink refused it.
static int Vaciar(Transferencia *t, SumideroFn sumidero)
{
    DWORD lleno = t->lleno;
    t->lleno = 0;
    return !lleno || sumidero(&t->s, t->bloque, lleno);
}

// The body's end: the rest of it goes to the sink.
static int Acabar(Transferencia *t, SumideroFn sumidero)
{
    return Terminar(t, Vaciar(t, sumidero) ? t->estado : 0);
}

// A transfer that broke keeps what it brought, so that the next attempt resumes there.
static int Romper(Transferencia *t, SumideroFn sumidero)
{
    Vaciar(t, sumidero);
    return Terminar(t, 0);
}

// Each read asks only for what WinHTTP holds already: Wine's WinHTTP completes a read on the
// calling thread when it holds some data and then waits there for the whole size asked, which
// would stop every transfer behind one that stalls.
int SeguirTransferencia(Transferencia *t, SumideroFn sumidero)
{
    if (!InterlockedExchange(&t->completada, 0))
        return t->enCurso;
    switch (t->paso) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!WinHttpReceiveResponse(t->peticion, NULL))
            return Terminar(t, 0);
        return 1;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
        DWORD estado = Estado(t->peticion), fin;
        if (!EmpezarCuerpo(estado, t->desde, sumidero, &t->s, &fin))
            return Terminar(t, fin);
        t->estado = estado;
        t->lleno = 0;
        break;
    }
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        if (t->leidos == 0)
            return Acabar(t, sumidero);
        if (t->leidos > BLOQUE_HTTP - t->lleno)
            t->leidos = BLOQUE_HTTP - t->lleno;
        if (!WinHttpReadData(t->peticion, t->bloque + t->lleno, t->leidos, NULL))
            return Romper(t, sumidero);
        return 1;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        t->lleno += t->leidos;
        if (t->leidos == 0)
            return Acabar(t, sumidero);
        if (t->lleno == BLOQUE_HTTP && !Vaciar(t, sumidero))
            return Terminar(t, 0);
        break;
    default:
        return Romper(t, sumidero);
    }
    if (!WinHttpQueryDataAvailable(t->peticion, NULL))
        return Romper(t, sumidero);
    return 1;
}

// WinHTTP may still call back until it reports the request handle released; the transfer's
// memory is only reused after that. A WinHTTP that never reports it is waited for 5 s.
void CerrarTransferencia(Transferencia *t)
{
    if (t->peticion) {
        WinHttpCloseHandle(t->peticion);
        DWORD inicio = GetTickCount();
        while (!t->soltada && GetTickCount() - inicio < 5000)
            WaitForSingleObject(avisoHttp, 50);
        // The wait may have taken another transfer's wake-up: given back, as a spare wake costs
        // nothing and a lost one stalls that transfer.
        SetEvent(avisoHttp);
    }
    if (t->conexion)
        WinHttpCloseHandle(t->conexion);
    Soltar(t->bloque);
    t->peticion = t->conexion = NULL;
    t->bloque = NULL;
    t->enCurso = 0;
}

int AMemoria(Sumidero *s, const void *datos, DWORD largo)
{
    if (!datos) {
        s->lleno = 0;
        return 1;
    }
    if ((ULONGLONG)s->lleno + largo > LIMITE_MANIFIESTO)
        return 0;
    CopyMemory((BYTE *)s->salida + s->lleno, datos, largo);
    s->lleno += largo;
    return 1;
}
