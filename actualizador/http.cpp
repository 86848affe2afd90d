// GETs of one URL, streamed block by block into a sink: one at a time on the run's session, or
// several at once on its asynchronous session.
#include "interno.h"

#include <stdio.h>

static int EsCuerpo(DWORD estado)
{
    return estado == 200 || estado == 206;
}

// A 200 after a ranged request means the server sends the whole body again: the sink first
// drops what it held.
static int Reinicia(DWORD estado, ULONGLONG desde)
{
    return estado == 200 && desde;
}

// Reads the body into the sink.
static DWORD LeerCuerpo(HINTERNET peticion, DWORD estado, ULONGLONG desde, SumideroFn sumidero,
                        Sumidero *s)
{
    if (!EsCuerpo(estado))
        return estado;
    if (Reinicia(estado, desde) && !sumidero(s, NULL, 0))
        return 0;
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

#define MITAD (BLOQUE_HTTP / 2)
#define ESPERA_MITAD_MS 50

// The callback's end of the transfer: `respuesta` is its result.
static void Concluir(Transferencia *t, DWORD respuesta)
{
    t->respuesta = respuesta;
    InterlockedExchange(&t->fin, 1);
    SetEvent(avisoHttp);
}

// Asks what WinHTTP holds. Each read then asks for no more than that: Wine's WinHTTP completes
// a read on the calling thread when it holds some data and waits there for the whole size
// asked, which would hold up whatever else that thread serves. A call that completes at once
// calls back before it returns, so a fast body nests callbacks: past ANIDADAS deep the next
// call is left to the engine's thread (`relevo`), which starts again at the bottom of a stack.
static void Consultar(Transferencia *t)
{
    if (t->anidadas > ANIDADAS) {
        InterlockedExchange(&t->relevo, 1);
        SetEvent(avisoHttp);
    } else if (!WinHttpQueryDataAvailable(t->peticion, NULL)) {
        Concluir(t, 0);
    }
}

// A full half goes to the engine's thread; the reads go on in the other half once the engine
// has given it back. A WinHTTP thread waits a little for that (`devuelta`): a read issued here
// stays on this thread, while one the engine issues later may cost Wine another thread. The
// engine's own thread, running a callback inline, would only wait for itself. Then `parada` is
// left set and whichever of the two sees it second, the callback here or the engine giving the
// half back, resumes the reads.
static void Entregar(Transferencia *t)
{
    InterlockedExchange(&t->lista[t->llenando], 1);
    SetEvent(avisoHttp);
    t->llenando ^= 1;
    t->lleno = 0;
    if (GetCurrentThreadId() != t->hiloMotor)
        while (InterlockedCompareExchange(&t->lista[t->llenando], 0, 0) &&
               WaitForSingleObject(t->devuelta, ESPERA_MITAD_MS) == WAIT_OBJECT_0)
            ;
    InterlockedExchange(&t->parada, 1);
    if (!InterlockedCompareExchange(&t->lista[t->llenando], 0, 0) && InterlockedExchange(&t->parada, 0))
        Consultar(t);
}

// Runs on a WinHTTP thread (or inline on the thread of the call that completed) and issues the
// request's next step itself; it never touches the sink.
static void CALLBACK AlCompletar(HINTERNET, DWORD_PTR contexto, DWORD que, LPVOID info, DWORD largo)
{
    Transferencia *t = (Transferencia *)contexto;
    if (!t)
        return;
    // The request's last call: once `soltada` is seen the transfer's memory may be reused, so
    // nothing touches it after.
    if (que == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        InterlockedExchange(&t->soltada, 1);
        SetEvent(avisoHttp);
        return;
    }
    InterlockedIncrement(&t->anidadas);
    switch (que) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!WinHttpReceiveResponse(t->peticion, NULL))
            Concluir(t, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        t->respuesta = Estado(t->peticion);
        if (!EsCuerpo(t->respuesta)) {
            Concluir(t, t->respuesta);
            break;
        }
        if (Reinicia(t->respuesta, t->desde))
            InterlockedExchange(&t->reiniciar, 1);
        Consultar(t);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: {
        DWORD hay = *(DWORD *)info;
        if (hay == 0) {
            Concluir(t, t->respuesta);
            break;
        }
        if (hay > MITAD - t->lleno)
            hay = MITAD - t->lleno;
        if (!WinHttpReadData(t->peticion, t->bloque + t->llenando * MITAD + t->lleno, hay, NULL))
            Concluir(t, 0);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        if (largo == 0) {
            Concluir(t, t->respuesta);
            break;
        }
        t->lleno += largo;
        if (t->lleno < MITAD)
            Consultar(t);
        else
            Entregar(t);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        Concluir(t, 0);
        break;
    }
    InterlockedDecrement(&t->anidadas);
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
    t->lista[0] = t->lista[1] = t->parada = t->relevo = t->reiniciar = t->fin = t->anidadas = t->soltada = 0;
    t->respuesta = t->estado = 0;
    t->llenando = t->escribir = 0;
    t->lleno = 0;
    t->desde = desde;
    t->enCurso = 1;
    t->hiloMotor = GetCurrentThreadId();
    t->conexion = t->peticion = NULL;
    t->bloque = (BYTE *)Pedir(BLOQUE_HTTP);
    t->devuelta = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!t->bloque || !t->devuelta || !AbrirPeticion(sesionAsincrona, url, desde, &t->conexion, &t->peticion))
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

// `largo` bytes of a half go to the sink, after the reset a 200 to a ranged request asks for.
static int Escribir(Transferencia *t, SumideroFn sumidero, int mitad, DWORD largo)
{
    if (InterlockedExchange(&t->reiniciar, 0) && !sumidero(&t->s, NULL, 0))
        return 0;
    return !largo || sumidero(&t->s, t->bloque + mitad * MITAD, largo);
}

int SeguirTransferencia(Transferencia *t, SumideroFn sumidero)
{
    // The end is read before the halves: once it is seen, so is every half handed over.
    LONG fin = InterlockedCompareExchange(&t->fin, 0, 0);
    if (InterlockedExchange(&t->relevo, 0))
        Consultar(t);
    while (InterlockedCompareExchange(&t->lista[t->escribir], 0, 0)) {
        if (!Escribir(t, sumidero, t->escribir, MITAD))
            return Terminar(t, 0);
        InterlockedExchange(&t->lista[t->escribir], 0);
        SetEvent(t->devuelta);
        t->escribir ^= 1;
        if (InterlockedExchange(&t->parada, 0))
            Consultar(t);
    }
    if (!fin)
        return 1;
    // A transfer that broke keeps what it brought, so that the next attempt resumes there.
    return Terminar(t, Escribir(t, sumidero, t->escribir, t->lleno) ? t->respuesta : 0);
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
    if (t->devuelta)
        CloseHandle(t->devuelta);
    Soltar(t->bloque);
    t->peticion = t->conexion = t->devuelta = NULL;
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
