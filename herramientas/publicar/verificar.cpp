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

// As the engine: the last line that begins with "firma " and 128 digits; the signed text is
// everything before it.
static char *LineaDeFirma(char *texto, DWORD largo)
{
    for (char *p = texto + largo - 1; p > texto; p--)
        if (p[-1] == '\n' && strncmp(p, "firma ", 6) == 0)
            return EsHex(p + 6, 128) ? p : NULL;
    return NULL;
}

// The lines after the signature was taken off; entries go into `ent` for the body checks.
static DWORD LeerLineas(char *texto, Entrada *ent_, int *nEnt_)
{
    DWORD version = 0;
    int cabecera = 0;
    for (char *p = texto; *p;) {
        char *linea = p;
        char *fin = strchr(p, '\n');
        p = fin ? fin + 1 : p + strlen(p);
        if (fin)
            *fin = 0;
        char *cr = strchr(linea, '\r');
        if (cr)
            *cr = 0;
        if (!cabecera) {
            if (strcmp(linea, "BRMM 1") != 0) {
                Problema("no es un manifiesto de formato 1: %s", linea);
                return 0;
            }
            cabecera = 1;
        } else if (strncmp(linea, "version ", 8) == 0) {
            ULONGLONG v;
            if (!LeerNumero(linea + 8, &v))
                Problema("version invalida: %s", linea + 8);
            version = (DWORD)v;
        } else if (strncmp(linea, "oculto ", 7) == 0 || strncmp(linea, "borrar ", 7) == 0) {
            // The engine drops such a line without a word.
            if (!RutaValida(linea + 7))
                Problema("ruta invalida, el actualizador no la usara: %s", linea);
        } else if (strchr(linea, '|')) {
            char *barra1 = strchr(linea, '|');
            char *barra2 = strchr(barra1 + 1, '|');
            Entrada *e = &ent_[*nEnt_];
            if (barra2)
                *barra1 = *barra2 = 0;
            if (!barra2 || !RutaValida(linea) || !LeerNumero(barra1 + 1, &e->tam) || strlen(barra2 + 1) != 64 ||
                !EsHex(barra2 + 1, 64)) {
                if (barra2)
                    *barra1 = *barra2 = '|';
                Problema("entrada invalida: %s", linea);
                continue;
            }
            lstrcpynA(e->ruta, linea, sizeof e->ruta);
            lstrcpynA(e->sha, barra2 + 1, sizeof e->sha);
            (*nEnt_)++;
        }
    }
    if (version == 0 || *nEnt_ == 0)
        Problema("manifiesto incompleto: %s", version == 0 ? "sin version" : "sin archivos");
    return version;
}

// Each body once, however many entries share its content.
static void ComprobarCuerpos(const char *salida, Entrada *ent_, int nEnt_)
{
    Indice porSha;
    int conIndice = CrearIndice(&porSha, ent_[0].sha, nEnt_, sizeof(Entrada));
    ULONGLONG todo = 0;
    for (int i = 0; i < nEnt_; i++)
        todo += ent_[i].tam;
    EmpezarTarea(L"comprobando cuerpos", nEnt_, todo);
    for (int i = 0; i < nEnt_; i++) {
        const Entrada *e = &ent_[i];
        AvanzarTarea(i + 1);
        int j = conIndice ? PrimeroEnIndice(&porSha, e->sha) : 0;
        while (j >= 0 && j < i && !(strcmp(ent_[j].sha, e->sha) == 0 && ent_[j].tam == e->tam))
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
    if (strlen(texto) != largo) {
        Problema("manifiesto con bytes nulos");
        return 1;
    }
    char *firma = LineaDeFirma(texto, largo);
    if (!firma) {
        Problema("manifiesto sin firma");
        return 1;
    }
    BYTE bytes[64], resumen[32];
    DeHex(firma + 6, bytes, 64);
    if (!Resumir(texto, (DWORD)(firma - texto), resumen))
        return Fracaso("SHA-256 no disponible");
    int correcta = FirmaCorrecta(publica, resumen, bytes);
    if (correcta < 0)
        return Fracaso("la clave publica no es un punto de P-256");
    if (!correcta)
        Problema("firma invalida");
    *firma = 0;

    // One more record than there are line feeds bounds the table.
    int lineas = 1;
    for (const char *p = texto; *p; p++)
        lineas += *p == '\n';
    Entrada *ent_ = (Entrada *)Pedir((SIZE_T)lineas * sizeof(Entrada));
    if (!ent_)
        return Fracaso("sin memoria");
    int nEnt_ = 0;
    DWORD version = LeerLineas(texto, ent_, &nEnt_);
    if (nEnt_ > 0)
        ComprobarCuerpos(salida, ent_, nEnt_);
    Soltar(ent_);
    if (problemas) {
        Escribir(STD_OUTPUT_HANDLE, "release con %d problemas\n", problemas);
        return 1;
    }
    Escribir(STD_OUTPUT_HANDLE, "release correcta: version %lu, %d archivos\n", version, nEnt_);
    return 0;
}

int ComandoVerificar(int argc, char **argv)
{
    if (argc != 3 || strcmp(argv[1], "--clave") != 0) {
        Uso();
        return 2;
    }
    BYTE publica[LARGO_PUBLICA];
    if (LeerClave(argv[2], publica, LARGO_PUBLICA))
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
