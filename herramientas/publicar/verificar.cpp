// publicar verificar: a release as the engine will see it, against a key given on the command
// line (the engine's own check only knows the key built into it). One line per problem.
#include "publicar.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static int problemas;

static void Problema(const char *formato, ...) CON_FORMATO(1, 2);

static void Problema(const char *formato, ...)
{
    va_list args;
    va_start(args, formato);
    EscribirV(STD_OUTPUT_HANDLE, formato, args);
    Escribir(STD_OUTPUT_HANDLE, "\n");
    va_end(args);
    problemas++;
}

// The lines after the signature was taken off, read by the engine's classifier; entries go
// into `ent` for the body checks. Every bad line is reported, not only the first.
static DWORD LeerLineas(char *texto, Entrada *ent, int *nEnt)
{
    DWORD version = 0;
    int cabecera = 0;
    for (char *p = texto; *p;) {
        char *linea = SiguienteLinea(&p);
        if (!cabecera) {
            const char *formato;
            if (LeerCabecera(linea, &formato) != 1) {
                Problema("no es un manifiesto de formato 1: %s", linea);
                return 0;
            }
            cabecera = 1;
            continue;
        }
        LineaManifiesto l;
        ClasificarLinea(linea, &l);
        if (l.clase == LINEA_VERSION || l.clase == LINEA_VERSION_MALA) {
            if (l.clase == LINEA_VERSION_MALA)
                Problema("version invalida: %s", l.texto);
            version = (DWORD)l.numero;
        } else if (l.clase == LINEA_RUTA_MALA) {
            // The engine drops such a line without a word.
            Problema("ruta invalida, el actualizador no la usara: %s", linea);
        } else if (l.clase == LINEA_SIN_CAMPOS || l.clase == LINEA_ENTRADA_MALA) {
            Problema("entrada invalida: %s", linea);
        } else if (l.clase == LINEA_ENTRADA) {
            Entrada *e = &ent[(*nEnt)++];
            lstrcpynA(e->ruta, l.texto, l.largoRuta + 1);
            e->tam = l.numero;
            lstrcpynA(e->sha, l.sha, sizeof e->sha);
        }
    }
    if (version == 0 || *nEnt == 0)
        Problema("manifiesto incompleto: %s", version == 0 ? "sin version" : "sin archivos");
    return version;
}

// Two entries for one file, the same path or one Windows cannot tell apart: the file ends with
// whichever the engine placed last, and no one digest of the manifest describes it.
static void ComprobarRepetidas(const Entrada *ent, int nEnt)
{
    Indice porRuta;
    if (!CrearIndice(&porRuta, ent[0].ruta, nEnt, sizeof(Entrada))) {
        Problema("sin memoria para buscar rutas repetidas");
        return;
    }
    // Each pair is told once, at its later entry.
    for (int i = 0; i < nEnt; i++) {
        int j = OtraConRuta(&porRuta, ent, i);
        if (j < 0 || j > i)
            continue;
        if (strcmp(ent[j].ruta, ent[i].ruta) == 0)
            Problema("ruta repetida: %s", ent[i].ruta);
        else
            Problema("%s: Windows no lo distingue de %s", ent[i].ruta, ent[j].ruta);
    }
    SoltarIndice(&porRuta);
}

// Each body once, however many entries share its content.
static void ComprobarCuerpos(const char *salida, Entrada *ent, int nEnt)
{
    Indice porSha;
    int conIndice = CrearIndice(&porSha, ent[0].sha, nEnt, sizeof(Entrada));
    ULONGLONG todo = 0;
    for (int i = 0; i < nEnt; i++)
        todo += ent[i].tam;
    EmpezarTarea(L"comprobando cuerpos", nEnt, todo);
    for (int i = 0; i < nEnt; i++) {
        const Entrada *e = &ent[i];
        AvanzarTarea(i + 1);
        int j = conIndice ? PrimeroEnIndice(&porSha, e->sha) : 0;
        while (j >= 0 && j < i && !(strcmp(ent[j].sha, e->sha) == 0 && ent[j].tam == e->tam))
            j = conIndice ? SiguienteEnIndice(&porSha, j) : j + 1;
        if (j >= 0 && j < i) {
            SumarBytes(e->tam);
            continue;
        }
        char bin[MAX_PATH];
        Formar(bin, sizeof bin, "%s\\a\\%s.bin", salida, e->sha);
        ULONGLONG visto = 0;
        int estado = ComprobarCuerpo(bin, e->tam, e->sha, &visto);
        if (estado == CUERPO_FALTA)
            Problema("falta a\\%s.bin (%s)", e->sha, e->ruta);
        else if (estado == CUERPO_TAMANO)
            Problema("tamano distinto a\\%s.bin (%s): %I64u bytes, el manifiesto dice %I64u", e->sha, e->ruta, visto,
                     e->tam);
        else if (estado == CUERPO_DIGEST)
            Problema("digest distinto a\\%s.bin (%s)", e->sha, e->ruta);
        if (estado != CUERPO_BIEN && estado != CUERPO_DIGEST)
            SumarBytes(e->tam);
    }
    TerminarTarea();
    if (conIndice)
        SoltarIndice(&porSha);
}

static int Verificar(const char *salida, char *texto, DWORD largo, const BYTE publica[LARGO_PUBLICA])
{
    BYTE firma[64], resumen[32];
    DWORD firmado = 0;
    const char *motivo = SepararFirma(texto, largo, firma, &firmado);
    if (motivo) {
        Problema("%s", motivo);
        return 1;
    }
    if (!Resumir(texto, firmado, resumen))
        return Fracaso("SHA-256 no disponible");
    int correcta = FirmaCorrecta(publica, resumen, firma);
    if (correcta < 0)
        return Fracaso("la clave publica no es un punto de P-256");
    if (!correcta)
        Problema("firma invalida");

    // One more record than there are line feeds bounds the table.
    int lineas = 1;
    for (const char *p = texto; *p; p++)
        lineas += *p == '\n';
    Entrada *ent = (Entrada *)Pedir((SIZE_T)lineas * sizeof(Entrada));
    if (!ent)
        return Fracaso("sin memoria");
    int nEnt = 0;
    DWORD version = LeerLineas(texto, ent, &nEnt);
    if (nEnt > 0) {
        ComprobarRepetidas(ent, nEnt);
        ComprobarCuerpos(salida, ent, nEnt);
    }
    Soltar(ent);
    if (problemas) {
        Escribir(STD_OUTPUT_HANDLE, "release con %d problemas\n", problemas);
        return 1;
    }
    Escribir(STD_OUTPUT_HANDLE, "release correcta: version %lu, %d archivos\n", version, nEnt);
    return 0;
}

int ComandoVerificar(int argc, char **argv)
{
    if (argc != 3 || strcmp(argv[1], "--clave") != 0) {
        Uso();
        return 2;
    }
    BYTE publica[LARGO_PUBLICA];
    if (!LeerClave(argv[2], publica, LARGO_PUBLICA))
        return 1;
    char salida[MAX_PATH], ruta[MAX_PATH];
    if (!RutaAbsoluta(argv[0], salida))
        return Fracaso("ruta demasiado larga: %s", argv[0]);
    Unir(ruta, salida, "manifiesto.txt");
    char *texto = (char *)Pedir(LIMITE_MANIFIESTO);
    if (!texto)
        return Fracaso("sin memoria");
    DWORD largo;
    int codigo;
    if (!LeerEntero(ruta, texto, LIMITE_MANIFIESTO, &largo))
        codigo = largo ? Fracaso("%s tiene %lu bytes; el actualizador acepta %d como maximo", ruta, largo,
                                 LIMITE_MANIFIESTO - 1)
                       : Fracaso("no se puede leer %s (error %lu)", ruta, GetLastError());
    else
        codigo = Verificar(salida, texto, largo, publica);
    Soltar(texto);
    return codigo;
}
