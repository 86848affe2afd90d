// Moving the player's files and the finishing pass: hidden files, the delete list and its
// protection of player files, the sweep of Recursos, and what a complete run leaves behind.
#include "comun.h"
#include "firma.h"

struct Aplicar : ::testing::Test {
    MotorConectado motor{"http://127.0.0.1:9/"};
    std::string operator/(const std::string &r) const { return motor.carpeta / r; }
    bool Hay(const std::string &r) const { return Existe((*this / r).c_str()) != 0; }
    void Archivo(const std::string &r, const std::string &contenido = "x") { EscribirArchivo(*this / r, contenido); }

    // The finishing pass over this manifest text (after the header and version).
    void Finalizar(const std::string &lineasManifiesto, int relanzar = 0)
    {
        ASSERT_EQ(CargarManifiesto(Manifiesto(9, lineasManifiesto)), 0) << motor.a.error;
        lineas.clear();
        eventos.clear();
        ::Finalizar(relanzar);
    }
};

TEST_F(Aplicar, CurrentLayoutHasNothingToMove)
{
    Archivo("Recursos\\BRM.exe");
    Archivo("Recursos\\Local\\Config.BRM", "mia");
    MigrarJugador();
    EXPECT_TRUE(lineas.empty());
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Config.BRM"), "mia");
}

TEST_F(Aplicar, OlderLayoutFilesMoveIntoLocal)
{
    Archivo("Config.BRM", "config");
    Archivo("Extras.BRM", "extras");
    SetFileAttributesA((*this / "Extras.BRM").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Archivo("INIT\\Gd.gdr", "partida");
    Archivo("INIT\\Token1.dat", "t1");
    Archivo("INIT\\TokenAB.dat", "tab");
    Archivo("INIT\\Otro.dat", "otro");
    MigrarJugador();
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Config.BRM"), "config");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Extras.BRM"), "extras");
    EXPECT_EQ(GetFileAttributesA((*this / "Recursos\\Local\\Extras.BRM").c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              0u);
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Gd.gdr"), "partida");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Token1.dat"), "t1");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\TokenAB.dat"), "tab");
    EXPECT_FALSE(Hay("Config.BRM"));
    EXPECT_FALSE(Hay("INIT\\Gd.gdr"));
    EXPECT_TRUE(Hay("INIT\\Otro.dat"));
    ASSERT_EQ(lineas.size(), 5u);
    EXPECT_EQ(lineas[0], "  migrado Config.BRM -> Recursos\\Local\\Config.BRM: 1");
    EXPECT_EQ(lineas[1], "  migrado Extras.BRM -> Recursos\\Local\\Extras.BRM: 1");
    EXPECT_EQ(lineas[2], "  migrado INIT\\Gd.gdr -> Recursos\\Local\\Gd.gdr: 1");
    EXPECT_TRUE(HayLinea("  migrado INIT\\Token1.dat"));
    EXPECT_TRUE(HayLinea("  migrado INIT\\TokenAB.dat"));
}

TEST_F(Aplicar, WhatIsAlreadyInLocalWinsAndWhatCannotMoveStays)
{
    Archivo("Config.BRM", "vieja");
    Archivo("Recursos\\Local\\Config.BRM", "nueva");
    Archivo("INIT\\Token1.dat", "vieja");
    Archivo("Recursos\\Local\\Token1.dat", "nueva");
    Archivo("Extras.BRM", "abierta");
    Archivo("INIT\\Token2.dat", "abierta");
    HANDLE extras = CreateFileA((*this / "Extras.BRM").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE token = CreateFileA((*this / "INIT\\Token2.dat").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    motor.a.anotar = NULL;
    MigrarJugador();
    motor.a.anotar = AnotarPrueba;
    MigrarJugador();
    CloseHandle(extras);
    CloseHandle(token);
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Config.BRM"), "nueva");
    EXPECT_EQ(LeerArchivo(*this / "Config.BRM"), "vieja");
    EXPECT_EQ(LeerArchivo(*this / "INIT\\Token1.dat"), "vieja");
    EXPECT_TRUE(Hay("Extras.BRM"));
    EXPECT_TRUE(Hay("INIT\\Token2.dat"));
    // A move that failed says so; a token that did not move is not reported as moved.
    EXPECT_EQ(lineas, std::vector<std::string>{"  migrado Extras.BRM -> Recursos\\Local\\Extras.BRM: 0"});
}

// Player files reached through a folder link lie outside the game folder: they are not moved.
TEST_F(Aplicar, PlayerFilesBehindAFolderLinkStayWhereTheyAre)
{
    CarpetaTemporal fuera;
    EscribirArchivo(fuera / "Gd.gdr", "de fuera");
    EscribirArchivo(fuera / "Token1.dat", "de fuera");
    if (!EnlaceCarpeta(*this / "INIT", fuera.ruta))
        GTEST_SKIP() << "folder links cannot be made here";
    MigrarJugador();
    EXPECT_EQ(LeerArchivo(fuera / "Gd.gdr"), "de fuera");
    EXPECT_EQ(LeerArchivo(fuera / "Token1.dat"), "de fuera");
    EXPECT_FALSE(Hay("Recursos\\Local\\Gd.gdr") || Hay("Recursos\\Local\\Token1.dat"));
    EXPECT_TRUE(lineas.empty());
    HANDLE p = Lanzar("/bin/rm", "\"" + RutaUnix(*this / "INIT") + "\"");
    if (p)
        CloseHandle(p);
    EXPECT_TRUE(Hasta([this] { return !Hay("INIT"); }));
}

TEST_F(Aplicar, DeleteListProtectsPlayerFiles)
{
    struct {
        std::vector<std::string> archivos;
        std::string borrar;
        bool queda;
        std::string linea;
    } casos[] = {
        {{"INIT\\Gd.gdr"}, "INIT", true,
         "  NO se borra INIT: tiene archivos del jugador que no se pudieron pasar a Recursos\\Local"},
        {{"INIT\\x.ini", "INIT\\Token7.dat"}, "INIT", true,
         "  NO se borra INIT: tiene archivos del jugador que no se pudieron pasar a Recursos\\Local"},
        {{"INIT\\Gd.gdr", "Recursos\\Local\\Gd.gdr", "INIT\\Token7.dat", "Recursos\\Local\\Token7.dat"},
         "INIT", false, "  borrado (viejo) INIT"},
        {{"INIT\\x.ini"}, "init", false, "  borrado (viejo) init"},
        {{"Config.BRM"}, "Config.BRM", true,
         "  NO se borra Config.BRM: tiene archivos del jugador que no se pudieron pasar a Recursos\\Local"},
        {{"Config.BRM", "Recursos\\Local\\Config.BRM"}, "Config.BRM", false, "  borrado (viejo) Config.BRM"},
        {{"INIT\\Token7.dat"}, "INIT\\Token7.dat", false, "  borrado (viejo) INIT\\Token7.dat"},
        {{"Viejo\\a.txt"}, "Viejo", false, "  borrado (viejo) Viejo"},
        {{}, "NoEsta", false, ""},
        {{"Listado.txt"}, "Listado.txt", true, ""},  // an entry of the manifest too
        // A folder that holds an entry of the manifest, in any letter case, stays whole.
        {{"Mapas\\norte.map", "Mapas\\viejo.map"}, "Mapas", true, ""},
        {{"Mapas\\norte.map"}, "mapas", true, ""},
        {{"Map\\a.txt", "Mapas\\norte.map"}, "Map", false, "  borrado (viejo) Map"},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.borrar);
        for (const std::string &a : c.archivos)
            Archivo(a);
        Finalizar("borrar " + c.borrar + "\n" + LineaEntrada("Listado.txt", "x") + LineaEntrada("Mapas\\norte.map", "x"));
        EXPECT_EQ(Hay(c.borrar), c.queda);
        if (c.linea.empty()) {
            EXPECT_EQ(lineas.size(), 1u);  // only the closing line
        } else {
            ASSERT_EQ(lineas.size(), 2u);
            EXPECT_EQ(lineas[0], c.linea);
        }
        BorrarTodo(*this / "INIT");
        BorrarTodo(*this / "Recursos\\Local\\Gd.gdr");
        BorrarTodo(*this / "Recursos\\Local\\Config.BRM");
        BorrarTodo(*this / "Recursos\\Local\\Token7.dat");
        BorrarTodo(*this / "Config.BRM");
        BorrarTodo(*this / "Mapas");
    }
}

TEST_F(Aplicar, DeleteListNeverReachesPlayerData)
{
    Archivo("Recursos\\BRM.exe");
    Archivo("Recursos\\Mapas\\a.map");
    Archivo("Recursos\\Local\\Config.BRM", "mia");
    Archivo("Recursos\\Avanzado\\ServidorDescargas.txt", "http://127.0.0.1:9/");
    Finalizar("borrar Recursos\n" + LineaEntrada("Otro.txt", "x"));
    EXPECT_FALSE(Hay("Recursos\\BRM.exe"));
    EXPECT_FALSE(Hay("Recursos\\Mapas"));
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Config.BRM"), "mia");
    EXPECT_TRUE(Hay("Recursos\\Avanzado\\ServidorDescargas.txt"));
    // Recursos is still there, so its deletion is not reported.
    EXPECT_FALSE(HayLinea("  borrado (viejo) Recursos"));
}

TEST_F(Aplicar, FailedDeletionIsNotReported)
{
    Archivo("Viejo.txt");
    HANDLE abierto = CreateFileA((*this / "Viejo.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    Finalizar("borrar Viejo.txt\n" + LineaEntrada("Otro.txt", "x"));
    CloseHandle(abierto);
    EXPECT_TRUE(Hay("Viejo.txt"));
    EXPECT_FALSE(HayLinea("  borrado (viejo) Viejo.txt"));
}

TEST_F(Aplicar, LinksAreNeverFollowed)
{
    CarpetaTemporal fuera;
    EscribirArchivo(fuera / "valioso.txt", "no se toca");
    if (!EnlaceCarpeta(*this / "Enlace", fuera.ruta) || !EnlaceCarpeta(*this / "Recursos\\Enlace", fuera.ruta))
        GTEST_SKIP() << "folder links cannot be made here";
    EscribirArchivo(*this / "Viejo\\sub\\a.txt", "x");
    ASSERT_TRUE(EnlaceCarpeta(*this / "Viejo\\sub\\Enlace", fuera.ruta));
    Finalizar("borrar Enlace\nborrar Viejo\n" + LineaEntrada("Otro.txt", "x"));
    EXPECT_EQ(LeerArchivo(fuera / "valioso.txt"), "no se toca");
    EXPECT_FALSE(Hay("Viejo\\sub\\a.txt"));
}

TEST_F(Aplicar, SweepOfRecursos)
{
    Archivo("Recursos\\BRM.exe");
    Archivo("Recursos\\Mapas\\Uno.map");
    Archivo("Recursos\\Mapas\\sobra.map");
    Archivo("Recursos\\Vacia\\sobra.txt");
    Archivo("Recursos\\sobra.dll");
    Archivo("Recursos\\BRM.exe.local");
    Archivo("Recursos\\Otra\\BRM.exe.local");
    Archivo("Recursos\\Local\\Config.BRM");
    Archivo("Recursos\\Avanzado\\ajuste.txt");
    Archivo("Recursos\\Avanzado\\sub\\b.txt");
    Archivo("fuera.txt");
    SetFileAttributesA((*this / "Recursos\\sobra.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    Finalizar(LineaEntrada("Recursos\\BRM.exe", "x") + LineaEntrada("recursos\\mapas\\uno.MAP", "x") + LineaEntrada("fuera2.txt", "x"));
    EXPECT_TRUE(Hay("Recursos\\BRM.exe"));
    EXPECT_TRUE(Hay("Recursos\\Mapas\\Uno.map"));  // listed in other letter case
    EXPECT_FALSE(Hay("Recursos\\Mapas\\sobra.map"));
    EXPECT_FALSE(Hay("Recursos\\Vacia"));           // emptied folders go
    EXPECT_FALSE(Hay("Recursos\\sobra.dll"));
    EXPECT_TRUE(Hay("Recursos\\BRM.exe.local"));
    EXPECT_FALSE(Hay("Recursos\\Otra"));
    EXPECT_TRUE(Hay("Recursos\\Local\\Config.BRM"));
    EXPECT_TRUE(Hay("Recursos\\Avanzado\\sub\\b.txt"));
    EXPECT_TRUE(Hay("fuera.txt"));                  // nothing outside Recursos is swept
    for (const char *r : {"Recursos\\Mapas\\sobra.map", "Recursos\\Vacia\\sobra.txt", "Recursos\\sobra.dll",
                          "Recursos\\Otra\\BRM.exe.local"})
        EXPECT_TRUE(HayLinea(std::string("  borrado ") + r)) << r;
    EXPECT_EQ(lineas.size(), 5u);

    // An empty Recursos stays.
    BorrarTodo(*this / "Recursos\\Local");
    BorrarTodo(*this / "Recursos\\Avanzado");
    Finalizar(LineaEntrada("otro.txt", "x"));
    EXPECT_TRUE(EsCarpeta((*this / "Recursos").c_str()));
}

TEST_F(Aplicar, SweepNeverEntersLinks)
{
    CarpetaTemporal fuera;
    EscribirArchivo(fuera / "valioso.txt", "no se toca");
    if (!EnlaceCarpeta(*this / "Recursos\\Enlace", fuera.ruta))
        GTEST_SKIP() << "folder links cannot be made here";
    Finalizar(LineaEntrada("otro.txt", "x"));
    EXPECT_EQ(LeerArchivo(fuera / "valioso.txt"), "no se toca");
    EXPECT_TRUE(Hay("Recursos\\Enlace"));

    // Recursos itself a link: no sweep at all.
    CarpetaTemporal juego;
    ASSERT_TRUE(EnlaceCarpeta(juego / "Recursos", fuera.ruta));
    lstrcpyA(motor.a.carpeta, juego.ruta.c_str());
    Finalizar(LineaEntrada("otro.txt", "x"));
    EXPECT_EQ(LeerArchivo(fuera / "valioso.txt"), "no se toca");
}

TEST_F(Aplicar, WhatACompleteRunLeaves)
{
    Archivo("Recursos\\datos.pak", "datos");
    Archivo("Recursos\\Oculto.txt", "o");
    Archivo("Ambos.txt", "a");
    Archivo(RUTA_DESCARGAS "\\abc.bin", "staged");
    Archivo(RUTA_VERSION, "3\n");
    Finalizar(LineaEntrada("Recursos\\datos.pak", "datos") + LineaEntrada("Recursos\\Oculto.txt", "o") +
                  "oculto Recursos\\Oculto.txt\noculto Ambos.txt\nborrar Ambos.txt\n",
              1);
    EXPECT_EQ(eventos.size(), 1u);
    EXPECT_EQ(eventos[0].texto, L"Terminando");
    EXPECT_TRUE(GetFileAttributesA((*this / "Recursos\\Oculto.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(Hay("Ambos.txt"));
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "9\n");
    EXPECT_FALSE(Hay(RUTA_DESCARGAS));
    std::string cache = LeerArchivo(*this / RUTA_HASHES);
    EXPECT_EQ(cache.substr(0, 21), "Recursos\\datos.pak|5|");
    EXPECT_NE(cache.find("Recursos\\Oculto.txt|1|"), std::string::npos);
    EXPECT_EQ(lineas.back(), "actualizador: listo (version 9), se reabre el lanzador");
    Finalizar(LineaEntrada("Recursos\\datos.pak", "datos"));
    EXPECT_EQ(lineas.back(), "actualizador: listo (version 9)");
}

// What a state file (version.txt or hashes.txt) of a folder looks like: its bytes and whether it
// is read-only, and whether its temporary is there.
struct Estado {
    std::string texto;
    bool soloLectura, temporal;
};

static Estado LeerEstado(const std::string &ruta)
{
    DWORD a = GetFileAttributesA(ruta.c_str());
    return {LeerArchivo(ruta), a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0,
            Existe((ruta + ".nuevo").c_str()) != 0};
}

TEST_F(Aplicar, StateFilesReplaceLeftoversAndReadOnlyOldFiles)
{
    const DWORD estorban = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    struct {
        const char *caso;
        DWORD viejo;          // attributes of the old files
        const char *sobra;    // what a killed run left in the temporaries; NULL: nothing
    } casos[] = {
        {"leftover temporaries", 0, "a medio escribir"},
        {"leftover read-only hidden temporaries", 0, ""},
        {"read-only old files", FILE_ATTRIBUTE_READONLY, NULL},
        {"hidden system old files", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, NULL},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.caso);
        Archivo("Recursos\\datos.pak", "datos");
        for (const char *r : {RUTA_VERSION, RUTA_HASHES}) {
            BorrarTodo(*this / r);
            Archivo(r, "3\n");
            SetFileAttributesA((*this / r).c_str(), c.viejo ? c.viejo : FILE_ATTRIBUTE_NORMAL);
            if (c.sobra) {
                Archivo(std::string(r) + ".nuevo", c.sobra);
                if (!*c.sobra)
                    SetFileAttributesA((*this / (std::string(r) + ".nuevo")).c_str(), estorban);
            }
        }
        Finalizar(LineaEntrada("Recursos\\datos.pak", "datos"));
        Estado version = LeerEstado(*this / RUTA_VERSION), cache = LeerEstado(*this / RUTA_HASHES);
        EXPECT_EQ(version.texto, "9\n");
        EXPECT_EQ(cache.texto.substr(0, 21), "Recursos\\datos.pak|5|");
        EXPECT_FALSE(version.soloLectura || cache.soloLectura);
        EXPECT_FALSE(version.temporal || cache.temporal);
        EXPECT_EQ(GetFileAttributesA((*this / RUTA_VERSION).c_str()) & estorban, 0u);
        EXPECT_EQ(VersionVista(), 9u);
    }
}

static int renombres, matarEn;

// The rename of the state files, with the process killed right before the one of number matarEn.
static BOOL WINAPI RenombrarHastaMorir(LPCSTR de, LPCSTR hacia, DWORD opciones)
{
    if (++renombres == matarEn)
        TerminateProcess(GetCurrentProcess(), 9);
    return MoveFileExA(de, hacia, opciones);
}

TEST(Estado, RunKilledBeforeARenameLeavesReadableState)
{
    // The killed run is a second process that runs this test again up to the kill, so the
    // folder must have a name both processes give it, and the test no fixture that would
    // leave a folder of the killed process behind.
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    const std::string juego = std::string(tmp) + "brm-muerte";
    Actualizacion a;
    NuevoRegistro(&a, juego);
    E = &a;
    ASSERT_EQ(Conectar(), 0);
    const std::string version = juego + "\\" RUTA_VERSION, cache = juego + "\\" RUTA_HASHES;
    const std::string manifiesto = LineaEntrada("Recursos\\datos.pak", "datos 9");
    for (int en : {1, 2}) {
        SCOPED_TRACE(en == 1 ? "before the cache's rename" : "before the version's rename");
        BorrarTodo(juego);
        EscribirArchivo(juego + "\\Recursos\\datos.pak", "datos 3");
        EscribirArchivo(version, "3\n");
        EscribirArchivo(cache, "Recursos\\datos.pak|7|0|0|" + ShaHex("datos 3") + "\n");
        const std::string cacheVieja = LeerArchivo(cache);
        ASSERT_EQ(CargarManifiesto(Manifiesto(9, manifiesto)), 0);
        EscribirArchivo(juego + "\\Recursos\\datos.pak", "datos 9");
        EXPECT_EXIT(
            {
                renombres = 0;
                matarEn = en;
                renombrar = RenombrarHastaMorir;
                ::Finalizar(0);
            },
            ::testing::ExitedWithCode(9), "");
        // The killed run left the old version and a whole cache, the old or the new one.
        EXPECT_EQ(LeerArchivo(version), "3\n");
        EXPECT_EQ(VersionVista(), 3u);
        if (en == 1)
            EXPECT_EQ(LeerArchivo(cache), cacheVieja);
        else
            EXPECT_EQ(LeerArchivo(cache).substr(0, 21), "Recursos\\datos.pak|7|");
        EXPECT_TRUE(Existe(((en == 1 ? cache : version) + ".nuevo").c_str()));

        // The next run puts both in place over what the killed one left.
        ASSERT_EQ(CargarManifiesto(Manifiesto(9, manifiesto)), 0);
        Finalizar(0);
        EXPECT_EQ(LeerArchivo(version), "9\n");
        EXPECT_EQ(LeerArchivo(cache).substr(0, 21), "Recursos\\datos.pak|7|");
        EXPECT_FALSE(Existe((version + ".nuevo").c_str()) || Existe((cache + ".nuevo").c_str()));
    }
    BorrarTodo(juego);
    Liberar();
}
