// Whole runs against the scripted server: installs, updates, the older layout, the host
// executable, locked files, a full disk and a game that stays open.
#include "comun.h"
#include "firma.h"
#include "servidor.h"

#include <map>

typedef std::map<std::string, std::string> Archivos;

static const Archivos v1 = {
    {"Brumaria.exe", "lanzador 1"},
    {"Uninstall.exe", "desinstalador"},
    {"Recursos\\BRM.exe", "juego 1"},
    {"Recursos\\Mapas\\norte.map", std::string(200000, 'n')},
    {"Recursos\\Mapas\\sur.map", std::string(200000, 'n')},
    {"Recursos\\leeme.txt", "leeme 1"},
};

struct Corrida : ::testing::Test {
    ServidorGuion servidor;
    CarpetaTemporal t;
    std::string juego = t / "Brumaria";
    Actualizacion a;
    PausasGrabadas pausas;

    std::string operator/(const std::string &r) const { return juego + "\\" + r; }
    bool Hay(const std::string &r) const { return Existe((*this / r).c_str()) != 0; }

    void SetUp() override { EscribirArchivo(*this / RUTA_SERVIDOR, servidor.url + "\r\n"); }
    // Serves a release: its signed manifest and one body per content.
    void Publicar(DWORD version, const Archivos &archivos, const std::string &extra = "")
    {
        std::string entradas;
        for (const auto &[ruta, contenido] : archivos) {
            entradas += LineaEntrada(ruta, contenido);
            servidor.Responder("/a/" + ShaHex(contenido) + ".bin", contenido);
        }
        servidor.Responder("/manifiesto.txt", Manifiesto(version, extra + entradas));
    }
    // Installs version 1, then serves version 2: version 1 with `cambios`.
    Archivos InstalarYServir(const Archivos &cambios, const std::string &extra = "")
    {
        Publicar(1, v1);
        EXPECT_EQ(Correr(1), ACT_LISTO) << a.error;
        Archivos v2 = v1;
        for (const auto &[ruta, contenido] : cambios)
            v2[ruta] = contenido;
        Publicar(2, v2, extra);
        return v2;
    }
    int Correr(int instalar = 0, const std::string &ejecutable = "")
    {
        NuevoRegistro(&a, juego);
        a.modoInstalacion = instalar;
        lstrcpynA(a.ejecutable, ejecutable.c_str(), sizeof a.ejecutable);
        pausas.ms.clear();
        return Actualizar(&a);
    }
    void ComprobarArchivos(const Archivos &archivos)
    {
        for (const auto &[ruta, contenido] : archivos)
            EXPECT_EQ(LeerArchivo(*this / ruta), contenido) << ruta;
    }
    // hashes.txt names exactly these paths, in manifest order.
    void ComprobarCache(const std::vector<std::string> &rutas)
    {
        std::string cache = LeerArchivo(*this / RUTA_HASHES);
        std::vector<std::string> vistas;
        for (size_t i = 0; i < cache.size(); i = cache.find('\n', i) + 1)
            vistas.push_back(cache.substr(i, cache.find('|', i) - i));
        EXPECT_EQ(vistas, rutas);
    }
    // The "actualizado" lines of the run, in their order.
    std::vector<std::string> Actualizados()
    {
        std::vector<std::string> rutas;
        for (const std::string &l : lineas)
            if (l.rfind("  actualizado ", 0) == 0)
                rutas.push_back(l.substr(14));
        return rutas;
    }
    std::vector<std::wstring> TextosDeEventos()
    {
        std::vector<std::wstring> textos;
        for (const Evento &e : eventos)
            if (textos.empty() || textos.back() != e.texto)
                textos.push_back(e.texto);
        return textos;
    }
};

TEST_F(Corrida, FirstInstallIntoAnEmptyFolder)
{
    Publicar(1, v1, "oculto Recursos\\leeme.txt\n");
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    ComprobarArchivos(v1);
    EXPECT_TRUE(GetFileAttributesA((*this / "Recursos\\leeme.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");
    EXPECT_FALSE(Hay(RUTA_DESCARGAS));
    ComprobarCache({"Brumaria.exe", "Recursos\\BRM.exe", "Recursos\\Mapas\\norte.map", "Recursos\\Mapas\\sur.map",
                    "Recursos\\leeme.txt", "Uninstall.exe"});
    EXPECT_STREQ(a.error, "");
    EXPECT_EQ(a.version, 1u);
    EXPECT_EQ(a.versionPrevia, 0);
    EXPECT_EQ(servidor.Peticiones().size(), 6u);  // the manifest and five distinct bodies
    EXPECT_EQ(lineas.front().substr(0, 39), "actualizador: buscando actualizaciones ");
    EXPECT_TRUE(HayLinea("  6 archivos para actualizar"));
    EXPECT_TRUE(HayLinea("  bajando Recursos\\Mapas\\norte.map (200000 bytes)"));
    EXPECT_FALSE(HayLinea("  bajando Recursos\\Mapas\\sur.map (200000 bytes)"));
    EXPECT_TRUE(HayLinea("  actualizado Recursos\\Mapas\\sur.map"));
    EXPECT_EQ(lineas.back(), "actualizador: listo (version 1)");
    EXPECT_EQ(TextosDeEventos(), (std::vector<std::wstring>{L"Buscando actualizaciones", L"Descargando actualización",
                                                            L"Instalando actualización", L"Terminando"}));
    // Six files placed, then one pause before their six size checks.
    EXPECT_EQ(pausas.ms, std::vector<DWORD>{50});
}

TEST_F(Corrida, UpdateToTheNextVersion)
{
    Publicar(1, v1);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    EscribirArchivo(*this / "Recursos\\Local\\Config.BRM", "del jugador");
    EscribirArchivo(*this / "Recursos\\Avanzado\\mio.txt", "del jugador");
    Archivos v2 = v1;
    v2["Recursos\\BRM.exe"] = "juego 2, mas largo";
    v2["Recursos\\Mapas\\oeste.map"] = "nuevo";
    v2.erase("Recursos\\leeme.txt");
    v2.erase("Uninstall.exe");
    Publicar(2, v2, "oculto Recursos\\Mapas\nborrar Uninstall.exe\n");
    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    ComprobarArchivos(v2);
    EXPECT_EQ(a.versionPrevia, 1);
    EXPECT_FALSE(Hay("Recursos\\leeme.txt"));
    EXPECT_FALSE(Hay("Uninstall.exe"));
    EXPECT_TRUE(GetFileAttributesA((*this / "Recursos\\Mapas").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Config.BRM"), "del jugador");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Avanzado\\mio.txt"), "del jugador");
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "2\n");
    EXPECT_TRUE(HayLinea("  2 archivos para actualizar"));
    EXPECT_TRUE(HayLinea("  borrado Recursos\\leeme.txt"));
    EXPECT_TRUE(HayLinea("  borrado (viejo) Uninstall.exe"));
    EXPECT_FALSE(Hay(RUTA_DESCARGAS));
    ComprobarCache({"Brumaria.exe", "Recursos\\BRM.exe", "Recursos\\Mapas\\norte.map", "Recursos\\Mapas\\oeste.map",
                    "Recursos\\Mapas\\sur.map"});
}

// A file damaged with its size and time kept is vouched for by the cache; only a run that
// ignores the cache finds it.
TEST_F(Corrida, VerifyRunHashesEveryFileAndHealsWhatTheCacheVouchedFor)
{
    Publicar(1, v1);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    const std::string mapa = *this / "Recursos\\Mapas\\norte.map";
    ULONGLONG tam, fecha;
    ASSERT_TRUE(TamFecha(mapa.c_str(), &tam, &fecha));
    std::string danado = v1.at("Recursos\\Mapas\\norte.map");
    danado[1000] = 'X';
    EscribirArchivo(mapa, danado);
    HANDLE f = CreateFileA(mapa.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME ft = {(DWORD)fecha, (DWORD)(fecha >> 32)};
    SetFileTime(f, NULL, NULL, &ft);
    CloseHandle(f);

    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    EXPECT_TRUE(HayLinea("  0 archivos para actualizar"));
    EXPECT_EQ(LeerArchivo(mapa), danado);

    NuevoRegistro(&a, juego);
    a.verificarTodo = 1;
    ASSERT_EQ(Actualizar(&a), ACT_LISTO) << a.error;
    ComprobarArchivos(v1);
    EXPECT_TRUE(HayLinea("  se verifican todos los archivos"));
    EXPECT_TRUE(HayLinea("  1 archivos para actualizar"));
    EXPECT_TRUE(HayLinea("  actualizado Recursos\\Mapas\\norte.map"));
    // Every file was hashed, with progress up to the sum of all sizes.
    ULONGLONG total = 0, visto = 0;
    for (const auto &[ruta, contenido] : v1)
        total += contenido.size();
    for (const Evento &e : eventos)
        if (e.texto == L"Verificando archivos") {
            EXPECT_EQ(e.total, total);
            visto = e.hecho;
        }
    EXPECT_EQ(visto, total);
    ComprobarCache({"Brumaria.exe", "Recursos\\BRM.exe", "Recursos\\Mapas\\norte.map", "Recursos\\Mapas\\sur.map",
                    "Recursos\\leeme.txt", "Uninstall.exe"});

    // The fresh cache vouches for every file again: the next plain run hashes nothing.
    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    EXPECT_TRUE(HayLinea("  0 archivos para actualizar"));
    for (const Evento &e : eventos)
        EXPECT_NE(e.texto, L"Verificando archivos");
}

// A path listed twice with two digests leaves the second content; the cache must not claim
// either for it, or a later release listing the first would keep the wrong file for ever.
TEST_F(Corrida, PathListedTwiceGetsNoCacheLine)
{
    // Of one size, so that a line for either entry would match the file.
    const std::string A = "contenido a", B = "contenido b";
    for (auto [primera, segunda] : {std::pair<const char *, const char *>{"Recursos\\x.dat", "Recursos\\x.dat"},
                                    {"Recursos\\X.dat", "Recursos\\x.dat"}}) {
        SCOPED_TRACE(std::string(primera) + " " + segunda);
        BorrarTodo(juego);
        EscribirArchivo(*this / RUTA_SERVIDOR, servidor.url + "\r\n");
        servidor.Responder("/a/" + ShaHex(A) + ".bin", A);
        servidor.Responder("/a/" + ShaHex(B) + ".bin", B);
        Publicar(1, {{"Brumaria.exe", "lanzador"}}, LineaEntrada(primera, A) + LineaEntrada(segunda, B));
        ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
        EXPECT_EQ(LeerArchivo(*this / "Recursos\\x.dat"), B);
        ComprobarCache({"Brumaria.exe"});

        Publicar(2, {{"Brumaria.exe", "lanzador"}, {"Recursos\\x.dat", A}});
        ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
        EXPECT_TRUE(HayLinea("  1 archivos para actualizar"));
        EXPECT_EQ(LeerArchivo(*this / "Recursos\\x.dat"), A);
        ComprobarCache({"Brumaria.exe", "Recursos\\x.dat"});
    }
}

TEST_F(Corrida, OlderLayoutFolder)
{
    Archivos viejo = {{"Corvalis.exe", "viejo"}, {"Config.BRM", "config"}, {"Extras.BRM", "extras"},
                      {"INIT\\Gd.gdr", "partida"}, {"INIT\\Token1.dat", "t1"}, {"INIT\\Token2.dat", "t2"},
                      {"INIT\\datos.ini", "viejo"}};
    for (const auto &[ruta, contenido] : viejo)
        EscribirArchivo(*this / ruta, contenido);
    SetFileAttributesA((*this / "Extras.BRM").c_str(), FILE_ATTRIBUTE_READONLY);
    Publicar(1, v1, "borrar INIT\nborrar Corvalis.exe\n");

    // A token held open cannot reach Recursos\Local: INIT is spared, and says why.
    HANDLE abierto = CreateFileA((*this / "INIT\\Token2.dat").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    CloseHandle(abierto);
    EXPECT_EQ(lineas.front().substr(0, 60), "actualizador: buscando actualizaciones (instalacion vieja) (");
    ComprobarArchivos(v1);
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Config.BRM"), "config");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Extras.BRM"), "extras");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Gd.gdr"), "partida");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Token1.dat"), "t1");
    EXPECT_EQ(LeerArchivo(*this / "INIT\\Token2.dat"), "t2");
    EXPECT_FALSE(Hay("Corvalis.exe"));
    EXPECT_TRUE(HayLinea("  NO se borra INIT: tiene archivos del jugador que no se pudieron pasar a Recursos\\Local"));
    EXPECT_TRUE(HayLinea("  migrado Extras.BRM -> Recursos\\Local\\Extras.BRM: 1"));

    // Next run: nothing pending, but an older-layout folder still waits and migrates.
    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    EXPECT_TRUE(HayLinea("  0 archivos para actualizar"));
    EXPECT_TRUE(HayLinea("  migrado INIT\\Token2.dat"));
    EXPECT_TRUE(HayLinea("  borrado (viejo) INIT"));
    EXPECT_FALSE(Hay("INIT"));
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\Local\\Token2.dat"), "t2");
}

TEST_F(Corrida, NothingPendingDoesNotWaitForTheGame)
{
    Publicar(1, v1);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    DeleteFileA((*this / RUTA_VERSION).c_str());
    DeleteFileA((*this / RUTA_HASHES).c_str());
    // The game runs from the folder the whole time.
    std::string exe = *this / "Recursos\\BRMCarga.exe";
    CopyFileA(ProgramaVecino("ayudante.exe").c_str(), exe.c_str(), FALSE);
    HANDLE proceso = Lanzar(exe, "dormir 60000");
    EXPECT_TRUE(Hasta([proceso] { return EnFoto(proceso); }));
    EXPECT_EQ(Correr(), ACT_LISTO) << a.error;
    TerminateProcess(proceso, 0);
    EsperarProceso(proceso);
    EXPECT_TRUE(pausas.ms.empty());
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");
    EXPECT_EQ(LeerArchivo(*this / RUTA_HASHES).substr(0, 15), "Brumaria.exe|10");
    EXPECT_EQ(lineas.back(), "actualizador: listo (version 1)");
}

TEST_F(Corrida, GameThatStaysOpenStopsTheRunWithNothingTouched)
{
    InstalarYServir({{"Recursos\\leeme.txt", "leeme 2"}}, "borrar Uninstall.exe\n");
    std::string exe = *this / "Recursos\\BRM.exe";
    CopyFileA(ProgramaVecino("ayudante.exe").c_str(), (*this / "Recursos\\BRM.exe").c_str(), FALSE);
    HANDLE proceso = Lanzar(exe, "dormir 60000");
    EXPECT_TRUE(Hasta([proceso] { return EnFoto(proceso); }));
    EXPECT_EQ(Correr(), ACT_JUEGO_ABIERTO);
    TerminateProcess(proceso, 0);
    EsperarProceso(proceso);
    EXPECT_STREQ(a.error, "el juego sigue abierto");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\leeme.txt"), "leeme 1");
    EXPECT_TRUE(Hay("Uninstall.exe"));
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");
    EXPECT_EQ(LeerArchivo(*this / RUTA_DESCARGAS "\\" + ShaHex("leeme 2") + ".bin"), "leeme 2");
}

TEST_F(Corrida, HostExecutableIsMovedAsideAndRestarted)
{
    InstalarYServir({{"Brumaria.exe", "lanzador 2"}});
    std::string host = *this / "Brumaria.exe";
    EXPECT_EQ(Correr(0, host), ACT_RELANZAR) << a.error;
    EXPECT_EQ(lineas.back(), "actualizador: listo (version 2), se reabre el lanzador");
    EXPECT_EQ(LeerArchivo(host), "lanzador 2");
    EXPECT_EQ(LeerArchivo(host + ".viejo"), "lanzador 1");
    EXPECT_STREQ(a.error, "");
    // The next run's start-up removes what was moved aside; with nothing replaced it returns 0.
    EXPECT_EQ(Correr(0, host), ACT_LISTO);
    EXPECT_FALSE(Existe((host + ".viejo").c_str()));
}

// A release may list "X.nuevo" or "X.viejo" beside X (an older publisher did not refuse it): the
// engine's new copy of X and the host it moves aside then take other names, and the listed
// files stay as the release has them.
TEST_F(Corrida, FilesNamedLikeTheEnginesCopiesStay)
{
    Archivos v1b = v1;
    v1b["Recursos\\leeme.txt.NUEVO"] = "listado como nuevo";
    v1b["brumaria.EXE.viejo"] = "listado como viejo";
    Publicar(1, v1b);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    Archivos v2 = v1b;
    v2["Brumaria.exe"] = "lanzador 2";
    v2["Recursos\\leeme.txt"] = "leeme 2";
    Publicar(2, v2);
    const std::string host = *this / "Brumaria.exe";
    EXPECT_EQ(Correr(0, host), ACT_RELANZAR) << a.error;
    ComprobarArchivos(v2);
    EXPECT_EQ(LeerArchivo(host + ".viejo~"), "lanzador 1");
    EXPECT_FALSE(Hay("Recursos\\leeme.txt.nuevo~"));
    // The next run removes what was moved aside and nothing the release lists.
    EXPECT_EQ(Correr(0, host), ACT_LISTO) << a.error;
    ComprobarArchivos(v2);
    EXPECT_TRUE(HayLinea("  0 archivos para actualizar"));
    EXPECT_FALSE(Existe((host + ".viejo~").c_str()));
}

TEST_F(Corrida, LockedTargetStopsTheRunAndTheNextFinishes)
{
    Archivos v2 = InstalarYServir({
        {"Brumaria.exe", "lanzador 2"},  // same size as before
        {"Recursos\\BRM.exe", "juego 2"},
        {"Recursos\\leeme.txt", "leeme 2"},
    });
    EscribirArchivo(*this / "Recursos\\leeme.txt.nuevo", "de una corrida cortada");
    HANDLE abierto =
        CreateFileA((*this / "Recursos\\BRM.exe").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(Correr(), ACT_ARCHIVO);
    CloseHandle(abierto);
    EXPECT_STREQ(a.archivoFallido, "Recursos\\BRM.exe");
    EXPECT_EQ(std::string(a.error).substr(0, 42), "no se pudo escribir Recursos\\BRM.exe (erro");
    std::vector<DWORD> esperadas(11, 500);
    esperadas.insert(esperadas.begin(), 50);  // the first entry's size check
    EXPECT_EQ(pausas.ms, esperadas);
    EXPECT_EQ(LeerArchivo(*this / "Brumaria.exe"), "lanzador 2");  // placed before it
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\BRM.exe"), "juego 1");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\leeme.txt"), "leeme 1");
    EXPECT_FALSE(Hay("Recursos\\BRM.exe.nuevo"));
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");
    // The cache pairs no digest with a file that does not hold it.
    ComprobarCache({"Brumaria.exe", "Recursos\\Mapas\\norte.map", "Recursos\\Mapas\\sur.map", "Uninstall.exe"});

    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    ComprobarArchivos(v2);
    EXPECT_TRUE(HayLinea("  2 archivos para actualizar"));
    EXPECT_FALSE(Hay("Recursos\\leeme.txt.nuevo"));
}

TEST_F(Corrida, FullDiskDuringTheCopy)
{
    // scripts/test mounts a 64 KiB tmpfs for this case when it runs as root.
    char lleno[MAX_PATH];
    if (!GetEnvironmentVariableA("BRM_DISCO_LLENO", lleno, sizeof lleno))
        GTEST_SKIP() << "no small disk to fill (scripts/test mounts one when run as root)";
    juego = std::string(lleno) + "\\juego";
    BorrarTodo(juego);
    EscribirArchivo(*this / RUTA_SERVIDOR, servidor.url + "\n");
    EscribirArchivo(*this / "Recursos\\grande.pak", "viejo");
    const Archivos v = {{"Recursos\\grande.pak", std::string(36 * 1024, 'g')}};
    Publicar(1, v);
    EXPECT_EQ(Correr(), ACT_INTERNO);
    EXPECT_STREQ(a.error, "disco lleno al escribir Recursos\\grande.pak");
    EXPECT_STREQ(a.archivoFallido, "Recursos\\grande.pak");
    EXPECT_EQ(LeerArchivo(*this / "Recursos\\grande.pak"), "viejo");
    EXPECT_FALSE(Hay("Recursos\\grande.pak.nuevo"));
    EXPECT_EQ(pausas.ms.size(), 0u);  // no further attempt
    BorrarTodo(juego);
}

TEST_F(Corrida, FileBecomesFolderAndFolderBecomesFileInOneRun)
{
    const Archivos archivos = {
        {"Recursos\\BRM.exe", "juego"},
        {"Recursos\\Mapas", "un archivo"},
        {"Recursos\\datos\\a.txt", "a"},
        {"Recursos\\datos\\sub\\b.txt", "b"},
    };
    const Archivos carpetas = {
        {"Recursos\\BRM.exe", "juego"},
        {"Recursos\\Mapas\\norte.map", "norte"},
        {"Recursos\\Mapas\\sur.map", "sur"},
        {"Recursos\\datos", "ahora un archivo"},
    };
    Publicar(1, archivos, "oculto Recursos\\Mapas\n");
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    SetFileAttributesA((*this / "Recursos\\Mapas").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    // Each release turns the other's files into folders and its folders into files.
    struct {
        const Archivos *version;
        std::vector<std::string> borrados;
    } pasos[] = {
        {&carpetas, {"  borrado Recursos\\Mapas", "  borrado Recursos\\datos"}},
        {&archivos, {"  borrado Recursos\\datos", "  borrado Recursos\\Mapas"}},
    };
    DWORD version = 1;
    for (const auto &p : pasos) {
        SCOPED_TRACE(version + 1);
        Publicar(++version, *p.version);
        ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
        ComprobarArchivos(*p.version);
        EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), std::to_string(version) + "\n");
        for (const std::string &l : p.borrados)
            EXPECT_TRUE(HayLinea(l)) << l;
        // The next run finds the folder as the manifest wants it.
        ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
        EXPECT_TRUE(HayLinea("  0 archivos para actualizar"));
    }
}

TEST_F(Corrida, FolderInTheWayThatHoldsWhatMustStayIsKept)
{
    struct {
        std::string archivo;     // the manifest's file where a folder stands
        std::string guardado;    // what lies in that folder and must stay
        std::string extra;       // more manifest lines
    } casos[] = {
        {"Recursos", "Recursos\\Local\\Config.BRM", ""},
        {"Juego", "Juego\\x.txt", LineaEntrada("Juego\\x.txt", "listado")},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.archivo);
        BorrarTodo(juego);
        EscribirArchivo(*this / RUTA_SERVIDOR, servidor.url + "\n");
        EscribirArchivo(*this / c.guardado, "listado");
        Publicar(1, {{c.archivo, "archivo"}}, c.extra);
        EXPECT_EQ(Correr(1), ACT_ARCHIVO);
        EXPECT_STREQ(a.archivoFallido, c.archivo.c_str());
        EXPECT_EQ(LeerArchivo(*this / c.guardado), "listado");
        EXPECT_FALSE(HayLinea("  borrado " + c.archivo));
    }
}

TEST_F(Corrida, FolderLinkInTheWayGoesAsALink)
{
    CarpetaTemporal fuera;
    EscribirArchivo(fuera / "valioso.txt", "no se toca");
    CrearCarpeta(*this / "Recursos");
    if (!EnlaceCarpeta(*this / "Recursos\\datos", fuera.ruta))
        GTEST_SKIP() << "folder links cannot be made here";
    Publicar(1, {{"Recursos\\datos", "un archivo"}});
    // Windows removes the link itself; Wine cannot remove a link to a folder that holds
    // something, so there the link stays and the file cannot be placed. Either way nothing
    // behind the link is touched.
    int r = Correr(1);
    EXPECT_EQ(LeerArchivo(fuera / "valioso.txt"), "no se toca");
    if (r == ACT_LISTO) {
        EXPECT_EQ(LeerArchivo(*this / "Recursos\\datos"), "un archivo");
    } else {
        EXPECT_EQ(r, ACT_ARCHIVO);
        // Wine cannot remove the link either: the shell does, so no later test meets it.
        HANDLE p = Lanzar("/bin/rm", "\"" + RutaUnix(*this / "Recursos\\datos") + "\"");
        if (p)
            CloseHandle(p);
        EXPECT_TRUE(Hasta([this] { return !Hay("Recursos\\datos"); }));
    }
}

// Every file below a folder with its content and its hidden and read-only bits, links not
// entered: what a test compares to see that nothing there changed.
static void Foto(const std::string &carpeta, const std::string &rel, Archivos &foto)
{
    DWORD a = GetFileAttributesA(carpeta.c_str());
    foto[rel + "/"] = std::to_string(a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((carpeta + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = d.cFileName, ruta = carpeta + "\\" + n;
        if (n == "." || n == ".." || (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Foto(ruta, rel + "\\" + n, foto);
        else
            foto[rel + "\\" + n] = LeerArchivo(ruta) + "|" +
                                   std::to_string(d.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    } while (FindNextFileA(h, &d));
    FindClose(h);
}

static Archivos Foto(const std::string &carpeta)
{
    Archivos foto;
    Foto(carpeta, "", foto);
    return foto;
}

// Wine cannot remove a link to a folder that holds something: the shell does.
static void QuitarEnlace(const std::string &enlace)
{
    HANDLE p = Lanzar("/bin/rm", "\"" + RutaUnix(enlace) + "\"");
    if (p)
        CloseHandle(p);
    EXPECT_TRUE(Hasta([&] { return !Existe(enlace.c_str()); })) << enlace;
}

// A folder link planted at any level of the game folder, pointing outside it: no entry is
// written through it (code 4 for that entry), no delete or hide line reaches through it, and
// the folder it points to is left exactly as it was.
TEST_F(Corrida, NothingIsWrittenThroughAFolderLink)
{
    CarpetaTemporal fuera;
    EscribirArchivo(fuera / "c2.txt", "de fuera");
    EscribirArchivo(fuera / "viejo.txt", "de fuera");
    EscribirArchivo(fuera / "sub\\d.txt", "de fuera");
    EscribirArchivo(fuera / "oculto.txt", "de fuera");
    const Archivos antes = Foto(fuera.ruta);
    Publicar(1, v1);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    DWORD version = 1;
    for (const std::string enlace : {"Datos", "Recursos\\enlace", "Recursos\\Mapas\\enlace"}) {
        SCOPED_TRACE(enlace);
        if (!EnlaceCarpeta(*this / enlace, fuera.ruta))
            GTEST_SKIP() << "folder links cannot be made here";

        // An entry through the link fails the run; what the manifest lists before it is placed.
        Archivos v2 = v1;
        v2["Brumaria.exe"] = "lanzador 2";
        v2[enlace + "\\c2.txt"] = "nuevo";
        Publicar(++version, v2);
        EXPECT_EQ(Correr(), ACT_ARCHIVO);
        EXPECT_EQ(a.archivoFallido, enlace + "\\c2.txt");
        EXPECT_EQ(std::string(a.error), "no se pudo escribir " + enlace + "\\c2.txt: " + enlace + " es un enlace");
        EXPECT_EQ(LeerArchivo(*this / "Brumaria.exe"), "lanzador 2");
        EXPECT_EQ(Foto(fuera.ruta), antes);

        // Delete and hide lines through the link, and hiding the link itself, do nothing.
        Publicar(++version, v1, "borrar " + enlace + "\\viejo.txt\nborrar " + enlace + "\\sub\noculto " + enlace +
                            "\\oculto.txt\noculto " + enlace + "\n");
        EXPECT_EQ(Correr(), ACT_LISTO) << a.error;
        EXPECT_FALSE(HayLinea("  borrado (viejo) " + enlace + "\\viejo.txt"));
        EXPECT_FALSE(HayLinea("  borrado (viejo) " + enlace + "\\sub"));
        EXPECT_EQ(Foto(fuera.ruta), antes);
        EXPECT_TRUE(Hay(enlace));
        QuitarEnlace(*this / enlace);
    }
}

// A state folder of the engine that is a folder link, or lies under one, ends the run with
// code 4 before anything is written: the version, the cache and the staged bodies would land
// outside the game folder.
TEST_F(Corrida, StateFolderBehindALinkEndsTheRunFirst)
{
    CarpetaTemporal fuera;
    EscribirArchivo(fuera / "valioso.txt", "de fuera");
    EscribirArchivo(fuera / "abc.bin", "de fuera");
    const Archivos antes = Foto(fuera.ruta);
    Publicar(1, v1);
    for (const std::string enlace :
         {"Recursos", "Recursos\\Local", "Recursos\\Local\\Actualizador", "Recursos\\Local\\Actualizador\\descargas"}) {
        SCOPED_TRACE(enlace);
        BorrarTodo(juego);
        if (enlace != "Recursos")
            EscribirArchivo(*this / RUTA_SERVIDOR, servidor.url + "\n");
        CrearCarpeta(*this / enlace);
        RemoveDirectoryA((*this / enlace).c_str());
        if (!EnlaceCarpeta(*this / enlace, fuera.ruta))
            GTEST_SKIP() << "folder links cannot be made here";
        EXPECT_EQ(Correr(1), ACT_ARCHIVO);
        EXPECT_EQ(a.archivoFallido, enlace);
        const std::string error = enlace + " es un enlace: el actualizador no escribe a traves de el";
        EXPECT_EQ(a.error, error);
        EXPECT_EQ(lineas, std::vector<std::string>{"ERROR (4): " + error});
        EXPECT_TRUE(servidor.Peticiones().empty());
        EXPECT_EQ(Foto(fuera.ruta), antes);
        QuitarEnlace(*this / enlace);
    }
}

TEST_F(Corrida, DeleteLineNamingAFolderOfTheReleaseIsSkipped)
{
    Archivos v2 = InstalarYServir({{"Recursos\\Mapas\\norte.map", std::string(200000, 'N')}},
                                  "borrar Recursos\\Mapas\nborrar recursos\\mapas\\SUR.map\n");
    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    ComprobarArchivos(v2);
    EXPECT_FALSE(HayLinea("  borrado (viejo) Recursos\\Mapas"));
    EXPECT_FALSE(HayLinea("  borrado (viejo) recursos\\mapas\\SUR.map"));
    // What the run placed stays placed: the next run has nothing to fetch.
    ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
    EXPECT_TRUE(HayLinea("  0 archivos para actualizar"));
}

TEST_F(Corrida, HostExecutableThatCannotBeReplacedStaysRunnable)
{
    // How the host's replacement is stopped: its file held open cannot be renamed aside; a
    // folder where its new copy goes lets it be renamed aside, but no copy can follow.
    struct {
        const char *caso;
        bool abierto;
        std::string error;
        std::vector<DWORD> pausas;
    } casos[] = {
        {"cannot be renamed aside", true, "no se pudo renombrar {H} (error ", {}},
        {"its new copy fails", false, "no se pudo escribir Brumaria.exe (error ", std::vector<DWORD>(11, 500)},
    };
    InstalarYServir({{"Brumaria.exe", "lanzador 2"}});
    const std::string host = *this / "Brumaria.exe";
    for (const auto &c : casos) {
        SCOPED_TRACE(c.caso);
        HANDLE abierto = INVALID_HANDLE_VALUE;
        if (c.abierto)
            abierto = CreateFileA(host.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        else
            EscribirArchivo(host + ".nuevo\\estorbo.txt", "x");
        EXPECT_EQ(Correr(0, host), ACT_ARCHIVO);
        if (abierto != INVALID_HANDLE_VALUE)
            CloseHandle(abierto);
        std::string error = c.error;
        if (error.find("{H}") != std::string::npos)
            error.replace(error.find("{H}"), 3, host);
        EXPECT_EQ(std::string(a.error).substr(0, error.size()), error);
        EXPECT_STREQ(a.archivoFallido, "Brumaria.exe");
        EXPECT_EQ(pausas.ms, c.pausas);
        // The old host is back under its name, nothing is left aside, nothing else changed.
        EXPECT_EQ(LeerArchivo(host), "lanzador 1");
        EXPECT_FALSE(Existe((host + ".viejo").c_str()));
        EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");
        BorrarTodo(host + ".nuevo");
    }
    // Without the obstacle the next run replaces the host and asks for a restart.
    EXPECT_EQ(Correr(0, host), ACT_RELANZAR) << a.error;
    EXPECT_EQ(LeerArchivo(host), "lanzador 2");
}

TEST_F(Corrida, ReadOnlyHiddenAndSystemTargetsAreReplaced)
{
    const DWORD estorban = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    struct {
        const char *caso;
        DWORD atributos;
    } casos[] = {
        {"read-only", FILE_ATTRIBUTE_READONLY},
        {"hidden", FILE_ATTRIBUTE_HIDDEN},
        {"system", FILE_ATTRIBUTE_SYSTEM},
        {"all three", estorban},
    };
    Publicar(1, v1);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    DWORD version = 1;
    for (const auto &c : casos) {
        SCOPED_TRACE(c.caso);
        // The target and the entry right after it change.
        Archivos v = v1;
        v["Recursos\\BRM.exe"] = "juego " + std::to_string(++version);
        v["Recursos\\Mapas\\norte.map"] = "norte " + std::to_string(version);
        Publicar(version, v);
        ASSERT_TRUE(SetFileAttributesA((*this / "Recursos\\BRM.exe").c_str(), c.atributos));
        ASSERT_EQ(Correr(), ACT_LISTO) << a.error;
        ComprobarArchivos(v);
        EXPECT_EQ(GetFileAttributesA((*this / "Recursos\\BRM.exe").c_str()) & estorban, 0u);
        EXPECT_TRUE(HayLinea("  2 archivos para actualizar"));
    }

    // A target that stays locked still has its attributes cleared before each attempt.
    Archivos v = v1;
    v["Recursos\\BRM.exe"] = "juego final";
    Publicar(++version, v);
    const std::string exe = *this / "Recursos\\BRM.exe";
    SetFileAttributesA(exe.c_str(), estorban);
    HANDLE abierto = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(Correr(), ACT_ARCHIVO);
    CloseHandle(abierto);
    EXPECT_EQ(GetFileAttributesA(exe.c_str()) & estorban, 0u);
}

static std::string estropear;
static int borrarCada50;
static void(WINAPI *dormirAntes)(DWORD);

// The recorded pause; the first pause before a size check also makes the file `estropear`
// longer, as another program writing to it would; with `borrarCada50`, every such pause
// deletes it, as an antivirus that removes the file each time it appears.
static void WINAPI DormirYEstropear(DWORD ms)
{
    dormirAntes(ms);
    if (ms != 50 || estropear.empty())
        return;
    if (borrarCada50) {
        DeleteFileA(estropear.c_str());
        return;
    }
    HANDLE f = CreateFileA(estropear.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD escritos;
    WriteFile(f, "++", 2, &escritos, NULL);
    CloseHandle(f);
    estropear.clear();
}

TEST_F(Corrida, SizeThatDiffersAfterTheMoveIsCopiedAgain)
{
    // The middle one of three placed files is damaged while they wait for their checks.
    Archivos v2 = InstalarYServir(
        {{"Brumaria.exe", "lanzador 2"}, {"Recursos\\BRM.exe", "juego 2"}, {"Recursos\\leeme.txt", "leeme 2"}});
    estropear = *this / "Recursos\\BRM.exe";
    dormirAntes = dormir;
    dormir = DormirYEstropear;
    int r = Correr();
    dormir = dormirAntes;
    ASSERT_EQ(r, ACT_LISTO) << a.error;
    EXPECT_TRUE(estropear.empty());
    EXPECT_EQ(pausas.ms, (std::vector<DWORD>{50, 500, 50}));
    EXPECT_EQ(Actualizados(), (std::vector<std::string>{"Brumaria.exe", "Recursos\\BRM.exe", "Recursos\\leeme.txt"}));
    ComprobarArchivos(v2);
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "2\n");
}

TEST_F(Corrida, FileRemovedAfterEachMoveStopsTheRunAtThatFile)
{
    // The host executable comes after the removed file in table order: it is not touched.
    struct {
        const char *caso;
        const char *ejecutable;
        const char *desinstalador;  // what Uninstall.exe holds after the failed run
        int siguiente;              // the next run's result
        const char *pendientes;
    } casos[] = {
        {"no host", "", "desinstalador 2", ACT_LISTO, "  1 archivos para actualizar"},
        {"the host after it", "Uninstall.exe", "desinstalador", ACT_RELANZAR, "  2 archivos para actualizar"},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.caso);
        BorrarTodo(juego);
        SetUp();
        Archivos v2 = InstalarYServir({{"Brumaria.exe", "lanzador 2"},
                                       {"Recursos\\BRM.exe", "juego 2"},
                                       {"Recursos\\leeme.txt", "leeme 2"},
                                       {"Uninstall.exe", "desinstalador 2"}});
        const std::string host = *c.ejecutable ? *this / c.ejecutable : "";
        estropear = *this / "Recursos\\BRM.exe";
        borrarCada50 = 1;
        dormirAntes = dormir;
        dormir = DormirYEstropear;
        int r = Correr(0, host);
        dormir = dormirAntes;
        borrarCada50 = 0;
        estropear.clear();
        EXPECT_EQ(r, ACT_ARCHIVO);
        EXPECT_STREQ(a.archivoFallido, "Recursos\\BRM.exe");
        EXPECT_STREQ(a.error, "no se pudo escribir Recursos\\BRM.exe (error 13)");
        // One pause for the queued files, then the removed one's eleven further attempts.
        std::vector<DWORD> esperadas = {50};
        for (int k = 0; k < 11; k++)
            esperadas.insert(esperadas.end(), {500, 50});
        EXPECT_EQ(pausas.ms, esperadas);
        EXPECT_EQ(Actualizados(), std::vector<std::string>{"Brumaria.exe"});
        EXPECT_FALSE(Hay("Recursos\\BRM.exe.nuevo"));
        // leeme.txt was moved in but never checked: it has the new content and no cache line.
        EXPECT_EQ(LeerArchivo(*this / "Recursos\\leeme.txt"), "leeme 2");
        EXPECT_EQ(LeerArchivo(*this / "Uninstall.exe"), c.desinstalador);
        EXPECT_FALSE(Hay("Uninstall.exe.viejo"));
        ComprobarCache({"Brumaria.exe", "Recursos\\Mapas\\norte.map", "Recursos\\Mapas\\sur.map"});
        EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");

        // The next run hashes what has no line, and places only what is still old.
        EXPECT_EQ(Correr(0, host), c.siguiente) << a.error;
        EXPECT_TRUE(HayLinea(c.pendientes));
        ComprobarArchivos(v2);
    }
}

static DWORD relojPropio;

static DWORD WINAPI RelojQueCorre(void)
{
    return relojPropio += 20;
}

static void WINAPI DormirConRelojPropio(DWORD ms)
{
    dormirAntes(ms);
    relojPropio += ms;
}

TEST_F(Corrida, ManyFilesAreCheckedInTableOrderWithoutAPauseEach)
{
    Archivos muchos;
    std::vector<std::string> orden;
    for (int k = 0; k < 150; k++) {
        char ruta[64];
        snprintf(ruta, sizeof ruta, "Recursos\\Datos\\a%03d.dat", k);
        muchos[ruta] = "contenido " + std::to_string(k);
        orden.push_back(ruta);
    }
    Publicar(1, muchos);
    ASSERT_EQ(Correr(1), ACT_LISTO) << a.error;
    ComprobarArchivos(muchos);
    EXPECT_EQ(Actualizados(), orden);
    // The clock stands still between pauses: more files than the queue holds wait for the
    // oldest, and each pause is the whole 50 ms.
    EXPECT_LT(pausas.ms.size(), 10u);
    for (DWORD ms : pausas.ms)
        EXPECT_EQ(ms, 50u);

    // A clock that moves while files are placed: they are checked as their time comes, and the
    // last ones get only the pause they still need.
    for (auto &[ruta, contenido] : muchos)
        contenido += " bis";
    Publicar(2, muchos);
    relojPropio = 0xFFFFFF00;
    DWORD(WINAPI * relojAntes)(void) = reloj;
    dormirAntes = dormir;
    dormir = DormirConRelojPropio;
    reloj = RelojQueCorre;
    int r = Correr();
    dormir = dormirAntes;
    reloj = relojAntes;
    ASSERT_EQ(r, ACT_LISTO) << a.error;
    ComprobarArchivos(muchos);
    EXPECT_EQ(Actualizados(), orden);
    DWORD dormido = 0;
    for (DWORD ms : pausas.ms)
        dormido += ms;
    EXPECT_LT(dormido, 50u);
}

TEST_F(Corrida, RecordOfAFailedRunIsClearedByTheNextRun)
{
    Archivos v2 = InstalarYServir({{"Recursos\\BRM.exe", "juego 2"}});
    HANDLE abierto =
        CreateFileA((*this / "Recursos\\BRM.exe").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(Correr(), ACT_ARCHIVO);
    CloseHandle(abierto);
    ASSERT_STRNE(a.error, "");
    ASSERT_STREQ(a.archivoFallido, "Recursos\\BRM.exe");

    // The host calls again with the same record, as the installer's Retry does.
    lineas.clear();
    EXPECT_EQ(Actualizar(&a), ACT_LISTO);
    EXPECT_STREQ(a.error, "");
    EXPECT_STREQ(a.archivoFallido, "");
    EXPECT_EQ(a.version, 2u);
    ComprobarArchivos(v2);
}
