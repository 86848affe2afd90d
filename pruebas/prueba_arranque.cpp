// The start-up of a run: what it checks, signals, takes and logs before the first phase.
#include "comun.h"
#include "ajustes.h"
#include "firma.h"
#include "servidor.h"

#include <thread>

static const std::string lineaArranque = "actualizador: buscando actualizaciones (" ETIQUETA_CLAVE ")";

// Starts a second process that holds the engine's mutex for `ms` and returns once it has it.
static HANDLE RetenerMutex(int ms)
{
    HANDLE listo = CreateEventA(NULL, TRUE, FALSE, "Local\\BRM_PruebaListo");
    HANDLE p = Ayudante("mutex " + std::to_string(ms));
    EXPECT_EQ(WaitForSingleObject(listo, 10000), WAIT_OBJECT_0);
    CloseHandle(listo);
    return p;
}

TEST(Arranque, KeyTagIsDerivedFromTheBuiltInKey)
{
    static const unsigned char clave[64] = {CLAVE_PUBLICA_BYTES};
    unsigned char resumen[32];
    Sha256(clave, sizeof clave, resumen);
    char esperada[32];
    snprintf(esperada, sizeof esperada, "BRMCLAVE-%02x%02x%02x%02x%02x%02x%02x%02x", resumen[0], resumen[1],
             resumen[2], resumen[3], resumen[4], resumen[5], resumen[6], resumen[7]);
    EXPECT_STREQ(ETIQUETA_CLAVE, esperada);
}

TEST(Arranque, NotAGameFolderEndsAtOnceWithoutTheMutex)
{
    CarpetaTemporal t;
    HANDLE otro = RetenerMutex(20000);
    Actualizacion a;
    NuevoRegistro(&a, t.ruta);
    lstrcpyA(a.error, "de antes");
    lstrcpyA(a.archivoFallido, "de antes");
    a.version = 9;
    a.versionPrevia = 1;
    ULONGLONG antes = GetTickCount64();
    EXPECT_EQ(Actualizar(&a), ACT_NO_ES_JUEGO);
    EXPECT_LT(GetTickCount64() - antes, 5000u);  // did not wait for the other process
    std::string texto = t.ruta + " no parece una instalacion del juego";
    EXPECT_EQ(a.error, texto);
    EXPECT_STREQ(a.archivoFallido, "");
    EXPECT_EQ(a.version, 0u);
    EXPECT_EQ(a.versionPrevia, 0);
    ASSERT_EQ(lineas.size(), 1u);
    EXPECT_EQ(lineas[0], "ERROR (6): " + texto);
    EXPECT_TRUE(eventos.empty());
    EXPECT_FALSE(Existe((t / RUTA_ESTADO).c_str()));
    TerminateProcess(otro, 0);
    EsperarProceso(otro);

    // A file named Recursos is no game either; the same call without callbacks gives the same.
    EscribirArchivo(t / "Recursos", "");
    a.anotar = NULL;
    a.progreso = NULL;
    EXPECT_EQ(Actualizar(&a), ACT_NO_ES_JUEGO);
}

TEST(Arranque, OlderLayoutSignalsTheLauncherBeforeTheMutex)
{
    struct {
        const char *marca;
        bool carpeta;
        bool vieja;
    } casos[] = {
        {"Corvalis.exe", false, true},
        {"Corvalis.exe", true, true},
        {"INIT", true, true},
        {"INIT", false, false},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(std::string(c.marca) + (c.carpeta ? " folder" : " file"));
        CarpetaTemporal t;
        if (c.carpeta)
            CrearCarpeta(t / c.marca);
        else
            EscribirArchivo(t / c.marca, "");
        EscribirArchivo(t / "Recursos\\BRM.exe", "");
        EscribirArchivo(t / RUTA_VERSION, "12\n");
        EscribirArchivo(t / RUTA_SERVIDOR, "http://127.0.0.1:9/\n");
        HANDLE relanzo = CreateEventA(NULL, TRUE, FALSE, "Local\\BRM_Relanzo");
        HANDLE otro = RetenerMutex(1000);

        Actualizacion a;
        NuevoRegistro(&a, t.ruta);
        a.plazoMs = 500;
        ULONGLONG buscando = 0;
        a.datoProgreso = &buscando;
        a.progreso = [](void *d, const wchar_t *, ULONGLONG, ULONGLONG) {
            if (!*(ULONGLONG *)d)
                *(ULONGLONG *)d = GetTickCount64();
        };
        std::thread corrida([&] { Actualizar(&a); });
        DWORD espera = WaitForSingleObject(relanzo, c.vieja ? 5000 : 1500);
        ULONGLONG senal = GetTickCount64();
        corrida.join();
        EsperarProceso(otro);
        CloseHandle(relanzo);

        if (c.vieja) {
            ASSERT_EQ(espera, WAIT_OBJECT_0);
            EXPECT_LT(senal + 300, buscando);  // the run was still waiting for the mutex
            EXPECT_EQ(lineas[0], "actualizador: buscando actualizaciones (instalacion vieja) (" ETIQUETA_CLAVE ")");
            EXPECT_EQ(a.versionPrevia, 0);
        } else {
            EXPECT_EQ(espera, (DWORD)WAIT_TIMEOUT);
            EXPECT_EQ(lineas[0], lineaArranque);
            EXPECT_EQ(a.versionPrevia, 1);
        }
    }
}

TEST(Arranque, VersionPrevia)
{
    struct {
        bool ejecutable;
        const char *version;  // NULL: no version.txt
        int previa;
    } casos[] = {
        {true, "12\n", 1}, {true, "0\n", 0}, {true, NULL, 0}, {false, "12\n", 0}, {true, "x\n", 0},
    };
    for (const auto &c : casos) {
        CarpetaTemporal t;
        CrearCarpeta(t / "Recursos");
        if (c.ejecutable)
            EscribirArchivo(t / "Recursos\\BRM.exe", "");
        if (c.version)
            EscribirArchivo(t / RUTA_VERSION, c.version);
        EscribirArchivo(t / RUTA_SERVIDOR, "http://127.0.0.1:9/\n");
        Actualizacion a;
        NuevoRegistro(&a, t.ruta);
        a.plazoMs = 500;
        Actualizar(&a);
        EXPECT_EQ(a.versionPrevia, c.previa) << c.ejecutable << " " << (c.version ? c.version : "none");
    }
}

TEST(Arranque, FirstInstallCreatesTheStateFolderAndAnnouncesTheSearch)
{
    CarpetaTemporal t;
    EscribirArchivo(t / RUTA_SERVIDOR, "http://127.0.0.1:9/\n");
    Actualizacion a;
    NuevoRegistro(&a, t.ruta);
    a.modoInstalacion = 1;
    a.plazoMs = 500;
    Actualizar(&a);
    EXPECT_TRUE(EsCarpeta((t / RUTA_ESTADO).c_str()));
    ASSERT_GE(lineas.size(), 2u);
    EXPECT_EQ(lineas[0], lineaArranque);
    EXPECT_EQ(lineas[1], "servidor de descargas de pruebas: http://127.0.0.1:9/");
    ASSERT_GE(eventos.size(), 1u);
    EXPECT_EQ(eventos[0].texto, L"Buscando actualizaciones");
    EXPECT_EQ(eventos[0].hecho, 0u);
    EXPECT_EQ(eventos[0].total, 0u);
}

// The host executable an earlier run moved aside goes once the manifest is known, unless the
// manifest lists that name.
TEST(Arranque, OldHostExecutableIsRemoved)
{
    ServidorGuion servidor;
    CarpetaTemporal t;
    EscribirArchivo(t / "Recursos\\x.txt", "x");
    EscribirArchivo(t / RUTA_SERVIDOR, servidor.url + "\n");
    servidor.Responder("/manifiesto.txt", Manifiesto(1, LineaEntrada("Recursos\\x.txt", "x")));
    std::string exe = t / "Brumaria.exe";
    std::string viejo = exe + ".viejo";
    Actualizacion a;
    auto correr = [&](const std::string &ejecutable, std::vector<DWORD> *pausas) {
        PausasGrabadas p;
        NuevoRegistro(&a, t.ruta);
        lstrcpyA(a.ejecutable, ejecutable.c_str());
        a.plazoMs = 500;
        EXPECT_EQ(Actualizar(&a), ACT_LISTO) << a.error;
        EXPECT_EQ(lineas[0], lineaArranque);
        if (pausas)
            *pausas = p.ms;
    };
    std::vector<DWORD> pausas;

    // Left over and read-only, under either name: deleted at once.
    EscribirArchivo(viejo, "antes");
    SetFileAttributesA(viejo.c_str(), FILE_ATTRIBUTE_READONLY);
    EscribirArchivo(viejo + "~", "antes");
    correr(exe, &pausas);
    EXPECT_FALSE(Existe(viejo.c_str()) || Existe((viejo + "~").c_str()));
    EXPECT_TRUE(pausas.empty());

    // Held open by another handle the whole time: 20 tries, 20 pauses, and the run goes on.
    EscribirArchivo(viejo, "antes");
    HANDLE abierto = CreateFileA(viejo.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    correr(exe, &pausas);
    EXPECT_EQ(pausas, std::vector<DWORD>(20, 150));
    CloseHandle(abierto);

    // A name so long that ".viejo" does not fit is nothing to delete.
    correr(t.ruta + "\\" + std::string(255 - t.ruta.size(), 'e'), &pausas);
    EXPECT_TRUE(pausas.empty());

    // A file of the release with that name, in any letter case, stays; the other name goes.
    EscribirArchivo(viejo, "del juego");
    EscribirArchivo(viejo + "~", "antes");
    servidor.Responder("/manifiesto.txt", Manifiesto(1, LineaEntrada("Recursos\\x.txt", "x") +
                                                            LineaEntrada("brumaria.EXE.viejo", "del juego")));
    correr(exe, nullptr);
    EXPECT_EQ(LeerArchivo(viejo), "del juego");
    EXPECT_FALSE(Existe((viejo + "~").c_str()));

    // Without a manifest nothing is deleted.
    EscribirArchivo(viejo + "~", "antes");
    servidor.Responder("/manifiesto.txt", std::vector<Respuesta>{Con(404)});
    {
        PausasGrabadas p;
        NuevoRegistro(&a, t.ruta);
        lstrcpyA(a.ejecutable, exe.c_str());
        a.plazoMs = 500;
        EXPECT_NE(Actualizar(&a), ACT_LISTO);
    }
    EXPECT_TRUE(Existe((viejo + "~").c_str()));
}

TEST(Arranque, OverrideFileOfTheServerURL)
{
    std::string u510(510, 'u');
    u510.replace(0, 17, "http://127.0.0.1/");
    struct {
        std::string texto;  // "-" for no file
        std::string url;
        bool anotada;
    } casos[] = {
        {"-", URL_BASE_DEFECTO, false},
        {"http://127.0.0.1:8080/juego\r\n", "http://127.0.0.1:8080/juego/", true},
        {"https://localhost/a/ b c", "https://localhost/a/", true},
        {"", URL_BASE_DEFECTO, true},
        {"\r\nhttp://otro/", URL_BASE_DEFECTO, true},
        {u510, u510 + "/", true},
        // One character more than the engine can hold: taking it cut would be another URL.
        {u510 + "v", URL_BASE_DEFECTO, true},
        {u510 + "v\n", URL_BASE_DEFECTO, true},
        // A NUL byte ends the line like a line feed.
        {std::string("http://127.0.0.1/c3\0xx", 22), "http://127.0.0.1/c3/", true},
        {std::string("http://127.0.0.1/c3/\0xx", 23), "http://127.0.0.1/c3/", true},
        {std::string("\0http://otro/", 13), URL_BASE_DEFECTO, true},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.texto.substr(0, 40));
        CarpetaTemporal t;
        if (c.texto != "-")
            EscribirArchivo(t / RUTA_SERVIDOR, c.texto);
        Actualizacion a;
        NuevoRegistro(&a, t.ruta);
        E = &a;
        LeerUrlBase();
        EXPECT_EQ(urlBase, c.url);
        if (c.anotada) {
            ASSERT_EQ(lineas.size(), 1u);
            EXPECT_EQ(lineas[0], "servidor de descargas de pruebas: " + c.url);
        } else {
            EXPECT_TRUE(lineas.empty());
        }
    }
}

static std::vector<DWORD> esperas;

// The engine's wait for the mutex, recorded and answered at once with the mutex's state.
static DWORD WINAPI EsperaGrabada(HANDLE objeto, DWORD ms)
{
    esperas.push_back(ms);
    return WaitForSingleObject(objeto, 0);
}

TEST(Arranque, RunThatCannotTakeTheMutexTouchesNothing)
{
    enum { NADIE, RETENIDO, ABANDONADO };
    struct {
        const char *caso;
        int otro;
        bool corre;
    } casos[] = {
        {"mutex free", NADIE, true},
        {"held by another run for longer than the wait", RETENIDO, false},
        {"abandoned by a run that died holding it", ABANDONADO, true},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.caso);
        CarpetaTemporal t;
        CrearCarpeta(t / "Recursos");
        EscribirArchivo(t / RUTA_SERVIDOR, "http://127.0.0.1:9/\n");
        std::string exe = t / "Brumaria.exe";
        EscribirArchivo(exe + ".viejo", "de otra corrida");
        HANDLE otro = c.otro == NADIE ? NULL : RetenerMutex(60000);
        if (c.otro == ABANDONADO) {
            TerminateProcess(otro, 0);
            EsperarProceso(otro);
            otro = NULL;
        }
        Actualizacion a;
        NuevoRegistro(&a, t.ruta);
        lstrcpyA(a.ejecutable, exe.c_str());
        a.plazoMs = 500;
        esperas.clear();
        esperar = EsperaGrabada;
        int r = Actualizar(&a);
        esperar = WaitForSingleObject;
        if (otro) {
            TerminateProcess(otro, 0);
            EsperarProceso(otro);
        }
        EXPECT_EQ(esperas, std::vector<DWORD>{600000});
        if (c.corre) {
            EXPECT_EQ(r, ACT_SIN_SERVIDOR);  // nothing listens at the server's address
            ASSERT_FALSE(lineas.empty());
            EXPECT_EQ(lineas[0], lineaArranque);
            EXPECT_TRUE(EsCarpeta((t / RUTA_ESTADO).c_str()));
        } else {
            EXPECT_EQ(r, ACT_JUEGO_ABIERTO);
            EXPECT_STREQ(a.error, "otra actualizacion en curso");
            EXPECT_EQ(lineas, std::vector<std::string>{"ERROR (5): otra actualizacion en curso"});
            EXPECT_TRUE(eventos.empty());
            EXPECT_FALSE(Existe((t / RUTA_ESTADO).c_str()));
            EXPECT_EQ(LeerArchivo(exe + ".viejo"), "de otra corrida");
        }
    }
}
