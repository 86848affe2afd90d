// The engine's console host as a program, against the scripted server serving releases made by
// the publisher's tool: what reaches the record from the command line, what the run prints,
// and the exit status.
#include "clave_prueba.h"
#include "comun.h"
#include "servidor.h"

#include <map>

typedef std::map<std::string, std::string> Archivos;

static const std::string publicar = Herramienta("..\\herramientas\\publicar\\publicar.exe");
static const std::string actualizar = Herramienta("..\\herramientas\\actualizar\\actualizar.exe");

static bool Contiene(const std::string &texto, const std::string &parte)
{
    return texto.find(parte) != std::string::npos;
}

// Lines of a text that begin with a prefix.
static std::vector<std::string> Lineas(const std::string &texto, const std::string &prefijo)
{
    std::vector<std::string> halladas;
    for (size_t i = 0; i < texto.size();) {
        size_t fin = texto.find('\n', i);
        fin = fin == std::string::npos ? texto.size() : fin;
        if (texto.compare(i, prefijo.size(), prefijo) == 0)
            halladas.push_back(texto.substr(i, fin - i));
        i = fin + 1;
    }
    return halladas;
}

static const std::string mapa = [] {
    std::string m(1500000, 0);
    for (size_t i = 0; i < m.size(); i++)
        m[i] = (char)(i * 13 + i / 997);
    return m;
}();

struct Consola : ::testing::Test {
    ServidorGuion servidor;
    CarpetaTemporal t;
    std::string juego = t / "Brumaria";

    // Publishes a release with the tool and serves its manifest and bodies.
    void Servir(DWORD version, const Archivos &archivos)
    {
        static const unsigned char clave[96] = {CLAVE_PRIVADA_PRUEBA_BYTES};
        std::string privada = t / "prueba.priv";
        char hex[2 * sizeof clave + 1];
        AHex(clave, sizeof clave, hex);
        EscribirArchivo(privada, std::string(hex) + "\n");
        std::string fuente = t / ("fuente" + std::to_string(version)), salida = t / "servidor";
        for (const auto &[ruta, contenido] : archivos)
            EscribirArchivo(fuente + "\\" + ruta, contenido);
        Resultado r = Ejecutar(publicar, "release \"" + fuente + "\" \"" + salida + "\" --version " +
                                             std::to_string(version) + " --clave \"" + privada + "\"");
        ASSERT_EQ(r.codigo, 0u) << r.errores;
        servidor.Responder("/manifiesto.txt", LeerArchivo(salida + "\\manifiesto.txt"));
        for (const auto &[ruta, contenido] : archivos)
            servidor.Responder("/a/" + ShaHex(contenido) + ".bin", LeerArchivo(salida + "\\a\\" + ShaHex(contenido) + ".bin"));
    }
    void SetUp() override { EscribirArchivo(juego + "\\" RUTA_SERVIDOR, servidor.url + "\n"); }
};

static const Archivos v1 = {
    {"Brumaria.exe", "lanzador 1"},
    {"Recursos\\BRM.exe", "juego 1"},
    {"Recursos\\Mapas\\norte.map", mapa},
    {"Recursos\\Mapas\\sur.map", mapa},
    {"Recursos\\vacio.txt", ""},
};

TEST_F(Consola, InstallsIntoAnEmptyFolder)
{
    Servir(4, v1);
    Resultado r = Ejecutar(actualizar, "\"" + juego + "\" --instalar");
    ASSERT_EQ(r.codigo, 0u) << r.salida << r.errores;
    for (const auto &[ruta, contenido] : v1)
        EXPECT_EQ(LeerArchivo(juego + "\\" + ruta), contenido) << ruta;

    // The engine's log lines, formatted, one per line on stdout.
    EXPECT_TRUE(Contiene(r.salida, "servidor de descargas de pruebas: " + servidor.url + "\n")) << r.salida;
    EXPECT_TRUE(Contiene(r.salida, "  manifiesto version 4: 5 archivos\n")) << r.salida;
    EXPECT_TRUE(Contiene(r.salida, "  bajando Recursos\\Mapas\\norte.map (1500000 bytes)\n")) << r.salida;
    EXPECT_TRUE(Contiene(r.salida, "\nactualizador: listo (version 4)\n")) << r.salida;
    EXPECT_FALSE(Contiene(r.errores, "error")) << r.errores;

    // Progress off a console: an event without a total once, one with a total at most every
    // tenth, and its end.
    EXPECT_EQ(Lineas(r.errores, "Buscando actualizaciones").size(), 1u) << r.errores;
    std::vector<std::string> descarga = Lineas(r.errores, "Descargando actualizaci\xf3n: ");
    EXPECT_GE(descarga.size(), 2u) << r.errores;
    EXPECT_LE(descarga.size(), 11u) << r.errores;
    ASSERT_FALSE(descarga.empty());
    EXPECT_EQ(descarga.back(), "Descargando actualizaci\xf3n: 100% (1500017 de 1500017)") << r.errores;
}

TEST_F(Consola, ExecutableOptionLetsTheRunReplaceTheHost)
{
    Servir(1, v1);
    ASSERT_EQ(Ejecutar(actualizar, "\"" + juego + "\" --instalar").codigo, 0u);
    Archivos v2 = v1;
    v2["Brumaria.exe"] = "lanzador 2";
    Servir(2, v2);
    // Relative paths from the working folder: both become the absolute paths the engine compares.
    Resultado r = Ejecutar(actualizar, "Brumaria\\ --ejecutable Brumaria\\Brumaria.exe", t.ruta);
    EXPECT_EQ(r.codigo, (DWORD)ACT_RELANZAR) << r.salida << r.errores;
    EXPECT_TRUE(Contiene(r.salida, "actualizador: listo (version 2), se reabre el lanzador\n")) << r.salida;
    EXPECT_EQ(LeerArchivo(juego + "\\Brumaria.exe"), "lanzador 2");
    EXPECT_EQ(LeerArchivo(juego + "\\Brumaria.exe.viejo"), "lanzador 1");
}

// --verificar: a map damaged in place, with its size and time kept, is found and healed.
TEST_F(Consola, VerifyOptionHealsAFileTheCacheVouchesFor)
{
    Servir(1, v1);
    ASSERT_EQ(Ejecutar(actualizar, "\"" + juego + "\" --instalar").codigo, 0u);
    const std::string norte = juego + "\\Recursos\\Mapas\\norte.map";
    WIN32_FILE_ATTRIBUTE_DATA antes;
    ASSERT_TRUE(GetFileAttributesExA(norte.c_str(), GetFileExInfoStandard, &antes));
    std::string danado = mapa;
    danado[700000] ^= 1;
    EscribirArchivo(norte, danado);
    HANDLE f = CreateFileA(norte.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    SetFileTime(f, NULL, NULL, &antes.ftLastWriteTime);
    CloseHandle(f);

    Resultado r = Ejecutar(actualizar, "\"" + juego + "\"");
    ASSERT_EQ(r.codigo, 0u) << r.salida << r.errores;
    EXPECT_TRUE(Contiene(r.salida, "  0 archivos para actualizar\n")) << r.salida;
    r = Ejecutar(actualizar, "\"" + juego + "\" --verificar");
    ASSERT_EQ(r.codigo, 0u) << r.salida << r.errores;
    EXPECT_TRUE(Contiene(r.salida, "  1 archivos para actualizar\n")) << r.salida;
    EXPECT_TRUE(Contiene(r.salida, "  actualizado Recursos\\Mapas\\norte.map\n")) << r.salida;
    EXPECT_FALSE(Lineas(r.errores, "Verificando archivos: ").empty()) << r.errores;
    EXPECT_EQ(LeerArchivo(norte), mapa);
}

TEST_F(Consola, FolderThatIsNotAGame)
{
    CrearCarpeta(t / "otra");
    Resultado r = Ejecutar(actualizar, "otra\\", t.ruta);
    EXPECT_EQ(r.codigo, (DWORD)ACT_NO_ES_JUEGO);
    EXPECT_TRUE(Contiene(r.errores, "error: " + t / "otra" + " no parece una instalacion del juego\n")) << r.errores;
    EXPECT_FALSE(Contiene(r.errores, "archivo:")) << r.errores;
    EXPECT_TRUE(servidor.Peticiones().empty());
}

// With --plazo the engine makes one attempt at the manifest; without it, four, with pauses.
TEST_F(Consola, QuickCheckMakesOneAttempt)
{
    servidor.Responder("/manifiesto.txt", {Con(503, "ocupado")});
    CrearCarpeta(juego + "\\Recursos");
    Resultado r = Ejecutar(actualizar, "\"" + juego + "\" --plazo 5000");
    EXPECT_EQ(r.codigo, (DWORD)ACT_SIN_SERVIDOR);
    EXPECT_TRUE(Contiene(r.errores, "error: no se pudo bajar " + servidor.url + "manifiesto.txt (HTTP 503)\n"))
        << r.errores;
    EXPECT_EQ(servidor.Peticiones().size(), 1u);
}

TEST_F(Consola, UsageErrors)
{
    for (const char *args : {"", "--instalar", "a b", "a --otra", "a --plazo", "a --plazo 5s", "a --plazo -1",
                             "a --ejecutable"}) {
        Resultado r = Ejecutar(actualizar, args);
        EXPECT_EQ(r.codigo, 100u) << args;
        EXPECT_TRUE(Contiene(r.errores, "uso: actualizar CARPETA")) << args << "\n" << r.errores;
    }
    EXPECT_TRUE(servidor.Peticiones().empty());
}
