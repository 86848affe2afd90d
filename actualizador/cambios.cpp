// Which files differ from the manifest: sizes and times from the file system, digests from the
// hash cache when it vouches for a file, and hashing only where it cannot.
#include "interno.h"

#include <string.h>

// Lines of hashes.txt carry the full 64-bit size, so a file of 4 GiB or more is judged from the
// cache like any other; the reader has always read the size as 64 bits.
#define LINEA_CACHE "%s|%I64u|%lu|%lu|%s\n"
#define LIMITE_CACHE 4194304

// One hashing block serves the whole run: taking a fresh megabyte for every file costs more than
// hashing a small file (about 10 ms a file under Wine).
static BYTE *bloqueSha;

void SoltarBloqueSha(void)
{
    Soltar(bloqueSha);
    bloqueSha = NULL;
}

int ShaArchivo(const char *ruta, char sha[65], const wchar_t *texto, ULONGLONG *cuenta, ULONGLONG total)
{
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    if (!bloqueSha)
        bloqueSha = (BYTE *)Pedir(BLOQUE_SHA);
    BYTE *bloque = bloqueSha;
    BCRYPT_HASH_HANDLE hash = NULL;
    int ok = bloque && BCRYPT_SUCCESS(BCryptCreateHash(algSha, &hash, NULL, 0, NULL, 0, 0));
    DWORD leidos;
    // A failed read ends the file like its end; the digest then tells.
    while (ok && ReadFile(f, bloque, BLOQUE_SHA, &leidos, NULL) && leidos > 0) {
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, bloque, leidos, 0));
        if (ok && cuenta) {
            *cuenta += leidos;
            Avisar(texto, *cuenta, total);
        }
    }
    BYTE resumen[32];
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, resumen, sizeof resumen, 0));
    if (hash)
        BCryptDestroyHash(hash);
    CloseHandle(f);
    if (!ok)
        return 0;
    AHex(resumen, 32, sha);
    return 1;
}

// The table doubles (256 records at least), so that reading a cache of tens of thousands of
// lines copies each record a bounded number of times.
static int CrecerRecordados(void)
{
    int crece = capRec < 256 ? 256 : capRec;
    Recordado *nuevo = (Recordado *)Pedir(((SIZE_T)capRec + crece) * sizeof(Recordado));
    if (!nuevo)
        return 0;
    if (nRec)
        CopyMemory(nuevo, rec, (SIZE_T)nRec * sizeof(Recordado));
    Soltar(rec);
    rec = nuevo;
    capRec += crece;
    return 1;
}

static void LeerLineasCache(char *texto)
{
    char *p = texto;
    while (*p) {
        char *linea = CortarLinea(&p);
        char *campo[5] = {linea};
        int n = 1;
        for (char *q = linea; *q && n < 5; q++)
            if (*q == '|') {
                *q = 0;
                campo[n++] = q + 1;
            }
        if (n < 5 || strlen(campo[4]) < 64)
            continue;
        if (nRec == capRec && !CrecerRecordados())
            return;
        Recordado *r = &rec[nRec++];
        ULONGLONG alto, bajo;
        lstrcpynA(r->ruta, campo[0], sizeof r->ruta);
        LeerNumero(campo[1], &r->tam);
        LeerNumero(campo[2], &alto);
        LeerNumero(campo[3], &bajo);
        r->fecha = (alto & 0xFFFFFFFF) << 32 | (bajo & 0xFFFFFFFF);
        lstrcpynA(r->sha, campo[4], sizeof r->sha);
    }
}

void LeerRecordados(void)
{
    char ruta[MAX_PATH];
    Unir(ruta, E->carpeta, RUTA_HASHES);
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER tam;
    char *texto = NULL;
    DWORD leidos = 0;
    if (GetFileSizeEx(f, &tam) && tam.QuadPart <= LIMITE_CACHE)
        texto = (char *)Pedir((SIZE_T)tam.QuadPart + 1);
    int ok = texto && ReadFile(f, texto, (DWORD)tam.QuadPart, &leidos, NULL);
    CloseHandle(f);
    if (ok) {
        texto[leidos] = 0;
        LeerLineasCache(texto);
    }
    Soltar(texto);
}

// The first cache line with the entry's path (in any letter case), size and time.
static const Recordado *Recordar(const Indice *x, const Entrada *e, ULONGLONG tam, ULONGLONG fecha)
{
    for (int i = PrimeroEnIndice(x, e->ruta); i >= 0; i = SiguienteEnIndice(x, i))
        if (rec[i].tam == tam && rec[i].fecha == fecha && lstrcmpiA(rec[i].ruta, e->ruta) == 0)
            return &rec[i];
    return NULL;
}

static int Coincide(const Entrada *e, const Indice *x, ULONGLONG *cuenta, ULONGLONG total)
{
    char ruta[MAX_PATH];
    ULONGLONG tam, fecha;
    Unir(ruta, E->carpeta, e->ruta);
    if (!TamFecha(ruta, &tam, &fecha) || tam != e->tam)
        return 0;
    const Recordado *r = x ? Recordar(x, e, tam, fecha) : NULL;
    if (r)
        return lstrcmpA(r->sha, e->sha) == 0;
    char sha[65];
    return ShaArchivo(ruta, sha, L"Verificando archivos", cuenta, total) && lstrcmpA(sha, e->sha) == 0;
}

int DecidirCambios(void)
{
    ULONGLONG total = 0, cuenta = 0;
    for (int i = 0; i < nEnt; i++)
        total += ent[i].tam;
    // Without memory for the index the cache cannot be consulted: every file is hashed.
    Indice indice;
    int conIndice = CrearIndice(&indice, rec ? rec[0].ruta : NULL, nRec, sizeof(Recordado));
    int pendientes = 0;
    for (int i = 0; i < nEnt; i++) {
        ent[i].pendiente = !Coincide(&ent[i], conIndice ? &indice : NULL, &cuenta, total);
        pendientes += ent[i].pendiente;
    }
    SoltarIndice(&indice);
    if (E->anotar)
        E->anotar("  %d archivos para actualizar", pendientes);
    return pendientes;
}

// Whether another entry names the same file, in any letter case. Such a file holds the content
// of whichever entry was placed last, so no digest of the manifest vouches for it; without the
// index every path counts as listed twice and the next run hashes.
static int Repetida(const Indice *x, int conIndice, int i)
{
    return !conIndice || OtraConRuta(x, ent, i) >= 0;
}

// The cache goes out in blocks: under Wine every WriteFile is a round trip through the
// wineserver, and a cache has a line per game file.
#define BLOQUE_CACHE 65536

struct Salida {
    HANDLE f;
    char *bloque;
    DWORD cap, lleno;
    int bien; /* 0 once a write fell short */
};

static void Vaciar(Salida *s)
{
    if (s->lleno && s->bien)
        s->bien = EscribirEstado(s->f, s->bloque, s->lleno);
    s->lleno = 0;
}

// A line that does not fit an empty block (every line, when there is no block) is written as
// it is.
static void Anadir(Salida *s, const char *linea, DWORD largo)
{
    if (s->lleno + largo > s->cap)
        Vaciar(s);
    if (largo > s->cap) {
        if (s->bien)
            s->bien = EscribirEstado(s->f, linea, largo);
        return;
    }
    CopyMemory(s->bloque + s->lleno, linea, largo);
    s->lleno += largo;
}

void GuardarRecordados(int colocados)
{
    char temporal[MAX_PATH];
    HANDLE f = AbrirEstado(RUTA_HASHES, temporal);
    if (f == INVALID_HANDLE_VALUE)
        return;
    Indice porRuta;
    int conIndice = CrearIndice(&porRuta, ent[0].ruta, nEnt, sizeof(Entrada));
    // Without memory for the block each line is written as it comes: slower, the same file.
    Salida s;
    s.f = f;
    s.bloque = (char *)Pedir(BLOQUE_CACHE);
    s.cap = s.bloque ? BLOQUE_CACHE : 0;
    s.lleno = 0;
    s.bien = 1;
    for (int i = 0; i < nEnt && s.bien; i++) {
        const Entrada *e = &ent[i];
        // A pending file not yet put in place still holds its earlier content: a line would
        // pair that content with the manifest's digest.
        if ((e->pendiente && i >= colocados) || Repetida(&porRuta, conIndice, i))
            continue;
        char archivo[MAX_PATH], linea[MAX_PATH + 128];
        ULONGLONG tam, fecha;
        Unir(archivo, E->carpeta, e->ruta);
        if (!TamFecha(archivo, &tam, &fecha) || tam != e->tam)
            continue;
        if (Formar(linea, sizeof linea, LINEA_CACHE, e->ruta, tam, (DWORD)(fecha >> 32), (DWORD)fecha, e->sha))
            Anadir(&s, linea, lstrlenA(linea));
    }
    Vaciar(&s);
    Soltar(s.bloque);
    SoltarIndice(&porRuta);
    // A cache that cannot be written whole is not written: the old one stays.
    CerrarEstado(f, temporal, RUTA_HASHES, s.bien);
}
