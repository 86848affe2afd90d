// publicar release: the game folder as a signed manifest and one body per distinct content.
// Everything that could make the engine refuse the release, or read it otherwise than meant,
// is refused before anything is written. Bodies go first and the manifest last, so that a
// manifest on disk never names a body that is not there.
#include "publicar.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The release asked for: its folders, version, key file and hide and delete paths.
static char juego[MAX_PATH], salida[MAX_PATH];
static DWORD version;
static const char *rutaClave;
static char **ocultos, **borrar;
static int nOcultos, nBorrar;

static Entrada *tabla;  // the game's files; `pendiente` marks the first of each content
static int nTabla, capTabla;
static int problemas;

static BYTE clave[LARGO_PRIVADA];

static void Problema(const char *formato, ...) CON_FORMATO(1, 2);

// One refusal; the checks go on so that one run lists every path to fix.
static void Problema(const char *formato, ...)
{
    char texto[1024];
    va_list args;
    va_start(args, formato);
    int n = _vsnprintf(texto, sizeof texto - 1, formato, args);
    va_end(args);
    texto[n < 0 || n > (int)sizeof texto - 1 ? sizeof texto - 1 : n] = 0;
    Fracaso("%s", texto);
    problemas++;
}

static Entrada *NuevaEntrada(void)
{
    if (nTabla == capTabla) {
        int cap = capTabla ? capTabla * 2 : 256;
        Entrada *nueva = (Entrada *)Pedir((SIZE_T)cap * sizeof(Entrada));
        if (!nueva)
            return NULL;
        if (tabla)
            CopyMemory(nueva, tabla, (SIZE_T)nTabla * sizeof(Entrada));
        Soltar(tabla);
        tabla = nueva;
        capTabla = cap;
    }
    return &tabla[nTabla++];
}

// Files under `relativa` ("" for the game folder itself); 0 only when out of memory.
static int Recorrer(const char *relativa)
{
    char carpeta[MAX_PATH], patron[MAX_PATH];
    Unir(carpeta, juego, relativa);
    if (!carpeta[0] || !Formar(patron, sizeof patron, "%s\\*", carpeta)) {
        Problema("ruta demasiado larga: %s", relativa);
        return 1;
    }
    WIN32_FIND_DATAA d;
    HANDLE busqueda = FindFirstFileA(patron, &d);
    if (busqueda == INVALID_HANDLE_VALUE) {
        Problema("no se puede leer la carpeta %s", carpeta);
        return 1;
    }
    int ok = 1;
    do {
        if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, ".."))
            continue;
        char rel[MAX_PATH];
        if (relativa[0])
            Unir(rel, relativa, d.cFileName);
        else
            lstrcpynA(rel, d.cFileName, sizeof rel);
        if (!rel[0]) {
            Problema("ruta demasiado larga: %s", d.cFileName);
        } else if (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // The engine never follows a link; what one points to is not part of the game.
            Problema("%s es un enlace: copie lo que enlaza en su lugar", rel);
        } else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = Recorrer(rel);
        } else if (!RutaValida(rel)) {
            Problema("%s: el actualizador rechaza esta ruta (caracteres A-Z a-z 0-9 espacio ( ) - . _, "
                     "180 como maximo, nada bajo Recursos\\Local ni Recursos\\Avanzado)",
                     rel);
        } else if (EmpiezaConPalabra(rel)) {
            // "version 2\x.txt|..." would set the version to 2.
            Problema("%s: el manifiesto leeria esta ruta como otra clase de linea", rel);
        } else {
            Entrada *e = NuevaEntrada();
            ok = e != NULL;
            if (e) {
                ZeroMemory(e, sizeof *e);
                lstrcpynA(e->ruta, rel, sizeof e->ruta);
                e->tam = (ULONGLONG)d.nFileSizeHigh << 32 | d.nFileSizeLow;
            }
        }
    } while (ok && FindNextFileA(busqueda, &d));
    FindClose(busqueda);
    return ok;
}

// ASCII letters compared as lowercase: the order does not follow how the names happen to be
// cased on the publisher's disk, and paths Windows cannot tell apart end up side by side.
static int CompararSinCaso(const char *a, const char *b)
{
    for (;; a++, b++) {
        int x = (BYTE)*a, y = (BYTE)*b;
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y || !x)
            return x - y;
    }
}

static int CompararEntradas(const void *a, const void *b)
{
    const char *x = ((const Entrada *)a)->ruta, *y = ((const Entrada *)b)->ruta;
    int c = CompararSinCaso(x, y);
    return c ? c : strcmp(x, y);
}

static int CompararConRuta(const void *buscada, const void *entrada)
{
    return CompararSinCaso((const char *)buscada, ((const Entrada *)entrada)->ruta);
}

// The engine puts a file's new copy beside it as "<path>.nuevo" and moves the running host
// aside as "<path>.viejo". The entry of the sorted table whose copy `ruta` would be, or NULL.
static const Entrada *CopiaDelMotor(const char *ruta)
{
    static const char *const sufijos[] = {".nuevo", ".viejo"};
    int n = lstrlenA(ruta);
    for (const char *sufijo : sufijos) {
        int m = lstrlenA(sufijo);
        if (n <= m || CompararSinCaso(ruta + n - m, sufijo) != 0)
            continue;
        char base[MAX_PATH];
        lstrcpynA(base, ruta, n - m + 1);
        const Entrada *e = (const Entrada *)bsearch(base, tabla, nTabla, sizeof(Entrada), CompararConRuta);
        if (e)
            return e;
    }
    return NULL;
}

static int Digitos(ULONGLONG n)
{
    int d = 1;
    for (; n >= 10; n /= 10)
        d++;
    return d;
}

static ULONGLONG LargoManifiesto(void)
{
    ULONGLONG largo = sizeof CABECERA_MANIFIESTO + sizeof PALABRA_VERSION - 1 + Digitos(version) + 1 +
                      LARGO_LINEA_FIRMA;
    for (int i = 0; i < nOcultos; i++)
        largo += sizeof PALABRA_OCULTO - 1 + strlen(ocultos[i]) + 1;
    for (int i = 0; i < nBorrar; i++)
        largo += sizeof PALABRA_BORRAR - 1 + strlen(borrar[i]) + 1;
    for (int i = 0; i < nTabla; i++)
        largo += strlen(tabla[i].ruta) + 1 + Digitos(tabla[i].tam) + 1 + 64 + 1;
    return largo;
}

// Copies a file to its body name through "<digest>.bin.tmp", hashing what it copies: a game
// file that changed since it was hashed must not leave a body under a name it does not match.
static int CopiarCuerpo(const Entrada *e, const char *origen, const char *destino)
{
    char temporal[MAX_PATH];
    Formar(temporal, sizeof temporal, "%s.tmp", destino);
    HANDLE de = CreateFileA(origen, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (de == INVALID_HANDLE_VALUE) {
        Fracaso("no se puede abrir %s (error %lu)", origen, GetLastError());
        return 0;
    }
    HANDLE a = CreateFileA(temporal, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (a == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(de);
        Fracaso("no se puede crear %s (error %lu)", temporal, error);
        return 0;
    }
    char sha[65] = "";
    ULONGLONG cuenta = 0;
    LARGE_INTEGER tam;
    int ok = Pasar(de, a, &cuenta, sha) && FlushFileBuffers(a) && GetFileSizeEx(a, &tam) &&
             (ULONGLONG)tam.QuadPart == cuenta;
    DWORD error = ok ? 0 : GetLastError();
    CloseHandle(a);
    CloseHandle(de);
    int igual = ok && cuenta == e->tam && strcmp(sha, e->sha) == 0;
    if (igual && !MoveFileExA(temporal, destino, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = 0;
        error = GetLastError();
    }
    if (igual && ok)
        return 1;
    DeleteFileA(temporal);
    if (ok)
        Fracaso("%s cambio mientras se publicaba", e->ruta);
    else
        Fracaso("no se pudo escribir %s (error %lu)", destino, error);
    return 0;
}

// Digits only: the engine would read "12x" as 12 without a word, and keeps 32 bits.
static int LeerVersion(const char *texto, DWORD *v)
{
    int n = lstrlenA(texto);
    for (int i = 0; i < n; i++)
        if (texto[i] < '0' || texto[i] > '9')
            return 0;
    ULONGLONG valor;
    if (n == 0 || n > 10 || !LeerNumero(texto, &valor) || valor == 0 || valor > 0xFFFFFFFF)
        return 0;
    *v = (DWORD)valor;
    return 1;
}

// ---- the steps of a release; each returns 1, or 0 after saying what is wrong ----

// The paths and folders asked for, before anything is read.
static int ComprobarPedido(void)
{
    for (int i = 0; i < nOcultos; i++)
        if (!RutaValida(ocultos[i]))
            Problema("--oculto %s: el actualizador rechaza esta ruta", ocultos[i]);
    for (int i = 0; i < nBorrar; i++)
        if (!RutaValida(borrar[i]))
            Problema("--borrar %s: el actualizador rechaza esta ruta", borrar[i]);
    if (!EsCarpeta(juego)) {
        Fracaso("%s no es una carpeta", juego);
        return 0;
    }
    if (EnCarpeta(salida, juego)) {
        Fracaso("SALIDA (%s) esta dentro de JUEGO: se publicaria a si misma", salida);
        return 0;
    }
    return 1;
}

// The private key, and that it is whole. A key file whose d does not belong to its X and Y
// would sign releases no engine accepts: a signature of a fixed digest must pass with the
// file's own public half.
static int CargarClave(void)
{
    if (!LeerClave(rutaClave, clave, LARGO_PRIVADA))
        return 0;
    BYTE resumen[32], firma[64];
    for (int i = 0; i < 32; i++)
        resumen[i] = (BYTE)i;
    if (!Firmar(clave, resumen, firma)) {
        Fracaso("la clave privada %s no sirve: CNG no firma con ella", rutaClave);
        return 0;
    }
    if (FirmaCorrecta(clave, resumen, firma) != 1) {
        Fracaso("la clave privada %s no sirve: d no corresponde a X e Y", rutaClave);
        return 0;
    }
    return 1;
}

// The game's files in their order, every refusal listed, and the manifest's length.
static int Listar(ULONGLONG *largo)
{
    if (!Recorrer("")) {
        Fracaso("sin memoria");
        return 0;
    }
    qsort(tabla, nTabla, sizeof(Entrada), CompararEntradas);
    for (int i = 1; i < nTabla; i++)
        if (CompararSinCaso(tabla[i - 1].ruta, tabla[i].ruta) == 0)
            Problema("%s: Windows no lo distingue de otro archivo con otras mayusculas", tabla[i].ruta);
    for (int i = 0; i < nTabla; i++) {
        const Entrada *base = CopiaDelMotor(tabla[i].ruta);
        if (base)
            Problema("%s: el actualizador da este nombre a su copia de %s", tabla[i].ruta, base->ruta);
    }
    // The engine skips a delete line that names a file of the release or a folder that holds
    // one, so such a line would do nothing the publisher meant.
    for (int i = 0; i < nBorrar; i++) {
        int j = EntradaEn(tabla, nTabla, borrar[i], 1);
        if (j >= 0)
            Problema("--borrar %s: la version trae %s, y el actualizador no borra lo que la version trae", borrar[i],
                     tabla[j].ruta);
    }
    if (!problemas && nTabla == 0) {
        Fracaso("%s no tiene archivos", juego);
        return 0;
    }
    *largo = LargoManifiesto();
    if (!problemas && *largo > LIMITE_MANIFIESTO - 1) {
        Fracaso("el manifiesto tendria %I64u bytes; el actualizador acepta %d como maximo", *largo,
                LIMITE_MANIFIESTO - 1);
        return 0;
    }
    if (problemas) {
        Fracaso("no se escribio nada: %d problemas", problemas);
        return 0;
    }
    return 1;
}

// Every file hashed before any body is written, so that an unreadable file stops the release
// with nothing written.
static int Resumirlos(void)
{
    ULONGLONG todo = 0;
    for (int i = 0; i < nTabla; i++)
        todo += tabla[i].tam;
    EmpezarTarea(L"calculando digests", nTabla, todo);
    for (int i = 0; i < nTabla; i++) {
        char ruta[MAX_PATH];
        Unir(ruta, juego, tabla[i].ruta);
        AvanzarTarea(i + 1);
        if (!ruta[0] || !Sha(ruta, tabla[i].tam, tabla[i].sha)) {
            TerminarTarea();
            Fracaso("no se pudo leer %s entero", tabla[i].ruta);
            return 0;
        }
    }
    TerminarTarea();
    return 1;
}

// One body per content: `pendiente` marks the first entry of each digest.
static int ElegirCuerpos(int *cuerpos, ULONGLONG *bytes)
{
    Indice porSha;
    if (!CrearIndice(&porSha, tabla[0].sha, nTabla, sizeof(Entrada))) {
        Fracaso("sin memoria");
        return 0;
    }
    *cuerpos = 0;
    *bytes = 0;
    for (int i = 0; i < nTabla; i++) {
        int j = PrimeroEnIndice(&porSha, tabla[i].sha);
        while (j >= 0 && strcmp(tabla[j].sha, tabla[i].sha) != 0)
            j = SiguienteEnIndice(&porSha, j);
        tabla[i].pendiente = j == i;
        if (j == i) {
            (*cuerpos)++;
            *bytes += tabla[i].tam;
        }
    }
    SoltarIndice(&porSha);
    return 1;
}

static int EscribirCuerpos(int cuerpos, ULONGLONG bytes, int *yaEstaban)
{
    char carpetaA[MAX_PATH], ruta[MAX_PATH];
    Unir(carpetaA, salida, "a");
    Unir(ruta, carpetaA, "x");
    CrearCarpetas(ruta);
    if (!EsCarpeta(carpetaA)) {
        Fracaso("no se puede crear %s", carpetaA);
        return 0;
    }
    *yaEstaban = 0;
    int ok = 1;
    EmpezarTarea(L"escribiendo cuerpos", cuerpos, bytes);
    for (int i = 0, k = 0; i < nTabla && ok; i++) {
        if (!tabla[i].pendiente)
            continue;
        char origen[MAX_PATH], destino[MAX_PATH];
        AvanzarTarea(++k);
        Unir(origen, juego, tabla[i].ruta);
        // Room for the ".tmp" of the copy.
        if (!Formar(destino, sizeof destino, "%s\\%s.bin", carpetaA, tabla[i].sha) ||
            lstrlenA(destino) > MAX_PATH - 5) {
            Fracaso("ruta de SALIDA demasiado larga: %s", carpetaA);
            ok = 0;
            break;
        }
        // A body left by an earlier run is kept only when its bytes are right.
        ULONGLONG visto, antes = BytesHechos();
        if (ComprobarCuerpo(destino, tabla[i].tam, tabla[i].sha, &visto) == CUERPO_BIEN) {
            (*yaEstaban)++;
        } else {
            FijarBytes(antes);
            ok = CopiarCuerpo(&tabla[i], origen, destino);
        }
    }
    TerminarTarea();
    return ok;
}

// The manifest's text of `largo` bytes, signed, written last under its final name.
static int EscribirManifiesto(ULONGLONG largo)
{
    char *texto = (char *)Pedir((SIZE_T)largo + 1);
    if (!texto) {
        Fracaso("sin memoria");
        return 0;
    }
    int cap = (int)largo + 1, lleno = 0;
    Formar(texto, cap, CABECERA_MANIFIESTO "\n" PALABRA_VERSION "%lu\n", version);
    lleno = lstrlenA(texto);
    for (int i = 0; i < nOcultos; i++, lleno += lstrlenA(texto + lleno))
        Formar(texto + lleno, cap - lleno, PALABRA_OCULTO "%s\n", ocultos[i]);
    for (int i = 0; i < nBorrar; i++, lleno += lstrlenA(texto + lleno))
        Formar(texto + lleno, cap - lleno, PALABRA_BORRAR "%s\n", borrar[i]);
    for (int i = 0; i < nTabla; i++, lleno += lstrlenA(texto + lleno))
        Formar(texto + lleno, cap - lleno, FORMATO_ENTRADA, tabla[i].ruta, tabla[i].tam, tabla[i].sha);

    BYTE resumen[32], firma[64];
    int firmado = (ULONGLONG)lleno + LARGO_LINEA_FIRMA == largo && Resumir(texto, (DWORD)lleno, resumen) &&
                  Firmar(clave, resumen, firma);
    if (!firmado) {
        Soltar(texto);
        Fracaso("no se pudo firmar el manifiesto con %s", rutaClave);
        return 0;
    }
    EscribirLineaFirma(texto + lleno, firma);

    char ruta[MAX_PATH];
    Unir(ruta, salida, "manifiesto.txt");
    int escrito = EscribirSeguro(ruta, texto, (DWORD)largo);
    DWORD error = GetLastError();
    Soltar(texto);
    if (!escrito) {
        Fracaso("no se pudo escribir %s (error %lu)", ruta, error);
        return 0;
    }
    return 1;
}

// A release whose arguments have been read, step by step; the exit status.
static int Publicar(void)
{
    ULONGLONG largo = 0, bytes = 0;
    int cuerpos = 0, yaEstaban = 0;
    if (!ComprobarPedido() || !CargarClave() || !Listar(&largo) || !Resumirlos() || !ElegirCuerpos(&cuerpos, &bytes) ||
        !EscribirCuerpos(cuerpos, bytes, &yaEstaban) || !EscribirManifiesto(largo))
        return 1;
    char etiqueta[26];
    EtiquetaClave(clave, etiqueta);
    Escribir(STD_OUTPUT_HANDLE, "version %lu: %d archivos, %d cuerpos (%d ya estaban), manifiesto de %I64u bytes\n",
             version, nTabla, cuerpos, yaEstaban, largo);
    Escribir(STD_OUTPUT_HANDLE, "firmado con %s\n", etiqueta);
    return 0;
}

int ComandoRelease(int argc, char **argv)
{
    const char *textoVersion = NULL;
    ocultos = (char **)Pedir((SIZE_T)(argc + 1) * sizeof(char *));
    borrar = (char **)Pedir((SIZE_T)(argc + 1) * sizeof(char *));
    if (!ocultos || !borrar) {
        Soltar(ocultos);
        Soltar(borrar);
        return Fracaso("sin memoria");
    }
    int posicionales = 0, uso = 0;
    const char *rutas[2] = {NULL, NULL};
    for (int i = 0; i < argc && !uso; i++) {
        const char *valor = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(argv[i], "--version") && valor)
            textoVersion = argv[++i];
        else if (!strcmp(argv[i], "--clave") && valor)
            rutaClave = argv[++i];
        else if (!strcmp(argv[i], "--oculto") && valor)
            ocultos[nOcultos++] = argv[++i];
        else if (!strcmp(argv[i], "--borrar") && valor)
            borrar[nBorrar++] = argv[++i];
        else if (argv[i][0] != '-' && posicionales < 2)
            rutas[posicionales++] = argv[i];
        else
            uso = 1;
    }
    int codigo;
    if (uso || posicionales != 2 || !textoVersion || !rutaClave) {
        Uso();
        codigo = 2;
    } else if (!LeerVersion(textoVersion, &version)) {
        codigo = Fracaso("--version %s: se espera un numero de 1 a 4294967295", textoVersion);
    } else if (!RutaAbsoluta(rutas[0], juego) || !RutaAbsoluta(rutas[1], salida)) {
        codigo = Fracaso("ruta demasiado larga");
    } else {
        codigo = Publicar();
    }
    Soltar(ocultos);
    Soltar(borrar);
    Soltar(tabla);
    tabla = NULL;
    SecureZeroMemory(clave, sizeof clave);
    return codigo;
}
