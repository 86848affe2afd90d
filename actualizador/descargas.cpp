// Staging: one verified copy of every pending body in the staging folder, named by its digest,
// resumed across attempts and across runs. Up to EN_VUELO bodies are fetched at once, each over
// its own connection and with its own attempts; everything but the network waits happens on
// the thread that called Actualizar.
#include "interno.h"

// Staging names are the folder, a backslash, 64 digits and ".part": 70 characters more.
#define LARGO_CARPETA_DESCARGAS (MAX_PATH - 1 - 70)
// What an attempt came to, besides 0 (another attempt follows) and a failure's code.
#define CUERPO_LISTO (-2)
#define EN_CURSO (-1)

// A body being fetched: its entry, the attempts it made and when its next attempt may start;
// during an attempt its open ".part" and its transfer.
struct Bajada {
    const Entrada *e;
    int intentos;
    DWORD reintento;
    HANDLE f;
    Transferencia t;
    char part[MAX_PATH], bin[MAX_PATH], url[LARGO_URL];
};

static Indice porSha;
static Bajada bajadas[EN_VUELO];
// After a 429 no request goes out before this moment, whichever body it is for.
static DWORD pausaComun;
// The most the progress has shown: with several bodies at once, one that fails takes its
// bytes back while others go on, and the bar must not move back.
static ULONGLONG mostrado;

// Whether an earlier pending entry has the same body, which is then fetched only once.
static int YaBajadoAntes(int i)
{
    for (int j = PrimeroEnIndice(&porSha, ent[i].sha); j >= 0 && j < i; j = SiguienteEnIndice(&porSha, j))
        if (ent[j].pendiente && lstrcmpA(ent[j].sha, ent[i].sha) == 0)
            return 1;
    return 0;
}

// Whether the clock passed `momento` (tick counts wrap, so compared as a difference).
static int Llego(DWORD momento)
{
    return (LONG)(reloj() - momento) >= 0;
}

static DWORD Falta(DWORD momento)
{
    return Llego(momento) ? 0 : momento - reloj();
}

int ADisco(Sumidero *s, const void *datos, DWORD largo)
{
    HANDLE archivo = (HANDLE)s->salida;
    if (!datos) {
        hechoTotal -= s->contado;
        s->contado = 0;
        LARGE_INTEGER cero;
        cero.QuadPart = 0;
        SetFilePointerEx(archivo, cero, NULL, FILE_BEGIN);
        SetEndOfFile(archivo);
        return 1;
    }
    // More than the manifest promises: counted, so that the caller sees a body too long, but
    // never written, so that a server cannot fill the disk.
    if (s->contado + largo > s->tope) {
        s->contado += largo;
        hechoTotal += largo;
        return 0;
    }
    // WriteFile may report success with fewer bytes written (a full disk under some systems).
    DWORD escritos = 0;
    if (!WriteFile(archivo, datos, largo, &escritos, NULL) || escritos != largo)
        return 0;
    s->contado += largo;
    hechoTotal += largo;
    if (hechoTotal > mostrado)
        mostrado = hechoTotal;
    Avisar(L"Descargando actualización", mostrado, totalBajar);
    return 1;
}

static int BinIntacto(const char *bin, const Entrada *e)
{
    ULONGLONG tam;
    char sha[65];
    return TamFecha(bin, &tam, NULL) && tam == e->tam && ShaArchivo(bin, sha, NULL, NULL, 0) &&
           lstrcmpA(sha, e->sha) == 0;
}

// A whole body of the right length and digest takes the ".bin" name.
static int Aceptar(const Bajada *b, ULONGLONG contado)
{
    char sha[65];
    if (contado != b->e->tam || !ShaArchivo(b->part, sha, NULL, NULL, 0) || lstrcmpA(sha, b->e->sha) != 0)
        return 0;
    QuitarAtributos(b->bin);
    DeleteFileA(b->bin);
    return MoveFileExA(b->part, b->bin, MOVEFILE_REPLACE_EXISTING);
}

// Closes the attempt that ended with `estado` and judges it: CUERPO_LISTO, 0 when another
// attempt follows (at b->reintento), or the code of the phase's failure after the last one.
static int TerminarIntento(Bajada *b, DWORD estado)
{
    const Entrada *e = b->e;
    ULONGLONG contado = b->t.s.contado;
    CerrarTransferencia(&b->t);
    CloseHandle(b->f);
    b->f = INVALID_HANDLE_VALUE;
    b->intentos++;
    // A body longer than promised stops the transfer but is judged like any whole body.
    if (estado == 200 || estado == 206 || contado > e->tam) {
        if (Aceptar(b, contado))
            return CUERPO_LISTO;
        if (E->anotar)
            E->anotar("  %s llego mal (%lu de %lu bytes), se baja de nuevo", e->ruta, (DWORD)contado, (DWORD)e->tam);
        // A body that stopped short is resumed from what it brought; only a whole body that
        // is wrong, or one too long, starts over.
        if (contado >= e->tam)
            DeleteFileA(b->part);
    } else if (E->anotar) {
        E->anotar("  %s: HTTP %lu (intento %d)", e->ruta, estado, b->intentos);
    }
    hechoTotal -= contado;
    if (b->intentos == 4)
        return Fallar(ACT_SIN_SERVIDOR, "no se pudo bajar %s", e->ruta);
    b->reintento = reloj() + (estado == 429 ? 11000 : b->intentos * 1000);
    if (estado == 429)
        pausaComun = b->reintento;
    return 0;
}

// Starts an attempt: opens the ".part", takes what it holds and asks for the rest. Ends the
// attempt at once (TerminarIntento's result) when the ".part" is already whole or the request
// cannot go out; EN_CURSO while the transfer runs.
static int EmpezarIntento(Bajada *b)
{
    const Entrada *e = b->e;
    b->f = CreateFileA(b->part, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    if (b->f == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
        return Fallar(ACT_ARCHIVO, "no se pudo crear %s (error %lu)", b->part, error);
    }
    LARGE_INTEGER largo, cero;
    cero.QuadPart = 0;
    ULONGLONG tengo = GetFileSizeEx(b->f, &largo) ? (ULONGLONG)largo.QuadPart : 0;
    if (tengo > e->tam) {
        SetFilePointerEx(b->f, cero, NULL, FILE_BEGIN);
        SetEndOfFile(b->f);
        tengo = 0;
    }
    SetFilePointerEx(b->f, cero, NULL, FILE_END);
    hechoTotal += tengo;
    Sumidero *s = &b->t.s;
    s->salida = b->f;
    s->lleno = 0;
    s->contado = tengo;
    s->tope = e->tam;
    s->corto = 0;
    if (tengo == e->tam)
        return TerminarIntento(b, 206);
    if (!EmpezarTransferencia(&b->t, b->url, tengo))
        return TerminarIntento(b, 0);
    return EN_CURSO;
}

// Offers the entry to a free place: a body whose ".bin" is intact is counted and reused; any
// other is logged and takes the place, its first attempt due now.
static void Tomar(Bajada *b, const Entrada *e, const char *carpeta)
{
    // Both fit: the folder's length was checked before the first body.
    Formar(b->bin, sizeof b->bin, "%s\\%s.bin", carpeta, e->sha);
    Formar(b->part, sizeof b->part, "%s\\%s.part", carpeta, e->sha);
    if (BinIntacto(b->bin, e)) {
        hechoTotal += e->tam;
        return;
    }
    Formar(b->url, sizeof b->url, "%sa/%s.bin", urlBase, e->sha);
    if (E->anotar)
        E->anotar("  bajando %s (%lu bytes)", e->ruta, (DWORD)e->tam);
    b->e = e;
    b->intentos = 0;
    b->reintento = reloj();
    b->f = INVALID_HANDLE_VALUE;
}

static DWORD Mayor(DWORD a, DWORD b)
{
    return a > b ? a : b;
}

static DWORD Menor(DWORD a, DWORD b)
{
    return a < b ? a : b;
}

// One pass over the places: each free one takes the next body in table order, attempts that
// are due start, and transfers whose completion came take their next step. Returns the
// phase's failure code or 0; `ocupadas` and `enCurso` count the places holding a body and
// those with a transfer running, `proxima` is how long until the next attempt is due.
static int Pasada(int *siguiente, const char *carpeta, int *ocupadas, int *enCurso, DWORD *proxima)
{
    *ocupadas = *enCurso = 0;
    *proxima = INFINITE;
    for (int j = 0; j < EN_VUELO; j++) {
        Bajada *b = &bajadas[j];
        for (;;) {
            while (!b->e && *siguiente < nEnt) {
                int i = (*siguiente)++;
                if (ent[i].pendiente && !YaBajadoAntes(i))
                    Tomar(b, &ent[i], carpeta);
            }
            if (!b->e)
                break;
            int r = EN_CURSO;
            if (b->t.enCurso) {
                if (!SeguirTransferencia(&b->t, ADisco))
                    r = TerminarIntento(b, b->t.estado);
            } else if (Llego(b->reintento) && Llego(pausaComun)) {
                r = EmpezarIntento(b);
            }
            if (r > 0)
                return r;
            if (r != CUERPO_LISTO)
                break;
            b->e = NULL;
        }
        if (!b->e)
            continue;
        (*ocupadas)++;
        if (b->t.enCurso)
            (*enCurso)++;
        else
            *proxima = Menor(*proxima, Mayor(Falta(b->reintento), Falta(pausaComun)));
    }
    return 0;
}

// A place left in the middle of an attempt by a failure elsewhere: its ".part" keeps what came.
static void Abandonar(Bajada *b)
{
    if (b->t.enCurso)
        CerrarTransferencia(&b->t);
    if (b->f != INVALID_HANDLE_VALUE)
        CloseHandle(b->f);
    b->f = INVALID_HANDLE_VALUE;
    b->e = NULL;
}

int BajarPendientes(void)
{
    char carpeta[MAX_PATH], x[MAX_PATH];
    Unir(carpeta, E->carpeta, RUTA_DESCARGAS);
    if (!carpeta[0] || lstrlenA(carpeta) > LARGO_CARPETA_DESCARGAS) {
        const Entrada *e = ent;
        while (!e->pendiente)
            e++;
        lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
        return Fallar(ACT_ARCHIVO, "ruta demasiado larga: %s\\" RUTA_DESCARGAS "\\%s.part", E->carpeta, e->sha);
    }
    Unir(x, carpeta, "x");
    CrearCarpetas(x);
    if (!CrearIndice(&porSha, ent[0].sha, nEnt, sizeof(Entrada)))
        return Fallar(ACT_INTERNO, "sin memoria");

    hechoTotal = totalBajar = mostrado = 0;
    for (int i = 0; i < nEnt; i++)
        if (ent[i].pendiente && !YaBajadoAntes(i))
            totalBajar += ent[i].tam;
    pausaComun = reloj();
    int siguiente = 0, resultado, ocupadas, enCurso;
    DWORD proxima;
    // Waits for a completion, or sleeps when every body waits for its next attempt.
    while ((resultado = Pasada(&siguiente, carpeta, &ocupadas, &enCurso, &proxima)) == 0 && ocupadas) {
        if (enCurso)
            WaitForSingleObject(avisoHttp, proxima);
        else
            dormir(proxima);
    }
    for (int j = 0; j < EN_VUELO; j++)
        Abandonar(&bajadas[j]);
    SoltarIndice(&porSha);
    return resultado;
}
