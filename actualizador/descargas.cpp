// Staging: one verified copy of every pending body in the staging folder, named by its digest,
// resumed across attempts and across runs.
#include "interno.h"

// Staging names are the folder, a backslash, 64 digits and ".part": 70 characters more.
#define LARGO_CARPETA_DESCARGAS (MAX_PATH - 1 - 70)

static Indice porSha;

// Whether an earlier pending entry has the same body, which is then fetched only once.
static int YaBajadoAntes(int i)
{
    for (int j = PrimeroEnIndice(&porSha, ent[i].sha); j >= 0 && j < i; j = SiguienteEnIndice(&porSha, j))
        if (ent[j].pendiente && lstrcmpA(ent[j].sha, ent[i].sha) == 0)
            return 1;
    return 0;
}

static int BinIntacto(const char *bin, const Entrada *e)
{
    ULONGLONG tam;
    char sha[65];
    return TamFecha(bin, &tam, NULL) && tam == e->tam && ShaArchivo(bin, sha, NULL, NULL, 0) &&
           lstrcmpA(sha, e->sha) == 0;
}

// A whole body of the right length and digest takes the ".bin" name.
static int Aceptar(const Entrada *e, const char *part, const char *bin, ULONGLONG contado)
{
    char sha[65];
    if (contado != e->tam || !ShaArchivo(part, sha, NULL, NULL, 0) || lstrcmpA(sha, e->sha) != 0)
        return 0;
    QuitarAtributos(bin);
    DeleteFileA(bin);
    return MoveFileExA(part, bin, MOVEFILE_REPLACE_EXISTING);
}

static int BajarCuerpo(const Entrada *e, const char *carpeta)
{
    char bin[MAX_PATH], part[MAX_PATH], url[LARGO_URL];
    // Both fit: the folder's length was checked before the first body.
    Formar(bin, sizeof bin, "%s\\%s.bin", carpeta, e->sha);
    Formar(part, sizeof part, "%s\\%s.part", carpeta, e->sha);
    if (BinIntacto(bin, e)) {
        hechoTotal += e->tam;
        return 0;
    }
    Formar(url, sizeof url, "%sa/%s.bin", urlBase, e->sha);
    if (E->anotar)
        E->anotar("  bajando %s (%lu bytes)", e->ruta, (DWORD)e->tam);

    DWORD estado = 0;
    for (int k = 0; k < 4; k++) {
        if (k > 0)
            dormir(estado == 429 ? 11000 : k * 1000);
        HANDLE f = CreateFileA(part, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
        if (f == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
            return Fallar(ACT_ARCHIVO, "no se pudo crear %s (error %lu)", part, error);
        }
        LARGE_INTEGER largo, cero;
        cero.QuadPart = 0;
        ULONGLONG tengo = GetFileSizeEx(f, &largo) ? (ULONGLONG)largo.QuadPart : 0;
        if (tengo > e->tam) {
            SetFilePointerEx(f, cero, NULL, FILE_BEGIN);
            SetEndOfFile(f);
            tengo = 0;
        }
        SetFilePointerEx(f, cero, NULL, FILE_END);
        hechoTotal += tengo;
        Sumidero s;
        s.salida = f;
        s.lleno = 0;
        s.contado = tengo;
        s.tope = e->tam;
        estado = tengo == e->tam ? 206 : HttpBajar(url, tengo, ADisco, &s);
        CloseHandle(f);

        // A body longer than promised stops the transfer but is judged like any whole body.
        if (estado == 200 || estado == 206 || s.contado > e->tam) {
            if (Aceptar(e, part, bin, s.contado))
                return 0;
            if (E->anotar)
                E->anotar("  %s llego mal (%lu de %lu bytes), se baja de nuevo", e->ruta, (DWORD)s.contado,
                          (DWORD)e->tam);
            // A body that stopped short is resumed from what it brought; only a whole body that
            // is wrong, or one too long, starts over.
            if (s.contado >= e->tam)
                DeleteFileA(part);
        } else if (E->anotar) {
            E->anotar("  %s: HTTP %lu (intento %d)", e->ruta, estado, k + 1);
        }
        hechoTotal -= s.contado;
    }
    return Fallar(ACT_SIN_SERVIDOR, "no se pudo bajar %s", e->ruta);
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

    hechoTotal = totalBajar = 0;
    for (int i = 0; i < nEnt; i++)
        if (ent[i].pendiente && !YaBajadoAntes(i))
            totalBajar += ent[i].tam;
    int resultado = 0;
    for (int i = 0; i < nEnt && resultado == 0; i++)
        if (ent[i].pendiente && !YaBajadoAntes(i))
            resultado = BajarCuerpo(&ent[i], carpeta);
    SoltarIndice(&porSha);
    return resultado;
}
