// Whole runs over TLS against nginx on this machine, as players reach the publisher: the test
// run's own CA is trusted by the Wine prefix the tests run in, and the servers that the CTest
// fixture started (pruebas/tls) present good and bad certificates. Every server serves the same
// folder, where each test publishes its release under a path of its own, so a refused server
// holds a release that would install if the engine took it.
#include "comun.h"
#include "firma.h"

#include <map>

typedef std::map<std::string, std::string> Archivos;

// The fixture's folder (certificates, servers' logs, their shared root) and its servers' ports.
static std::string estado;
static std::map<std::string, int> puertos;

static void LeerPuertos()
{
    char ruta[MAX_PATH];
    if (!estado.empty() || !GetEnvironmentVariableA("BRM_TLS", ruta, sizeof ruta))
        return;
    estado = RutaWindows(ruta);
    std::string texto = LeerArchivo(estado + "\\puertos");
    for (size_t i = 0; i < texto.size();) {
        size_t fin = texto.find('\n', i), espacio = texto.find(' ', i);
        if (fin == std::string::npos || espacio > fin)
            break;
        puertos[texto.substr(i, espacio - i)] = atoi(texto.c_str() + espacio + 1);
        i = fin + 1;
    }
}

// Files under a folder, as paths relative to it.
static void ListarArchivos(const std::string &carpeta, const std::string &prefijo, std::vector<std::string> &hallados)
{
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((carpeta + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = d.cFileName;
        if (n == "." || n == "..")
            continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListarArchivos(carpeta + "\\" + n, prefijo + n + "\\", hallados);
        else
            hallados.push_back(prefijo + n);
    } while (FindNextFileA(h, &d));
    FindClose(h);
}

static bool Contiene(const std::string &texto, const std::string &parte)
{
    return texto.find(parte) != std::string::npos;
}

struct Https : ::testing::Test {
    CarpetaTemporal t;
    std::string juego = t / "Brumaria";
    std::string camino;  // the release's path on the servers, "/name/"
    Actualizacion a;
    PausasGrabadas pausas;

    std::string operator/(const std::string &r) const { return juego + "\\" + r; }

    void SetUp() override
    {
        LeerPuertos();
        // Never a skip: a run that lost the variable on its way in must not pass unseen.
        ASSERT_FALSE(estado.empty()) << "BRM_TLS is not set: run through CTest, whose fixture starts the servers";
        ASSERT_EQ(puertos.size(), 6u) << "no ports in " << estado << "\\puertos";
        Usar(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override
    {
        if (!camino.empty())
            BorrarTodo(Raiz());
    }
    void Usar(const std::string &nombre)
    {
        if (!camino.empty())
            BorrarTodo(Raiz());
        camino = "/" + nombre + "/";
    }
    std::string Raiz() const { return estado + "\\raiz\\" + camino.substr(1, camino.size() - 2); }
    std::string Url(const std::string &servidor, const std::string &host = "localhost") const
    {
        return "https://" + host + ":" + std::to_string(puertos.at(servidor)) + camino;
    }
    // Writes a signed release into the servers' root: the manifest and one body per content.
    void Publicar(DWORD version, const Archivos &archivos)
    {
        std::string entradas;
        for (const auto &[ruta, contenido] : archivos) {
            entradas += LineaEntrada(ruta, contenido);
            EscribirArchivo(Raiz() + "\\a\\" + ShaHex(contenido) + ".bin", contenido);
        }
        EscribirArchivo(Raiz() + "\\manifiesto.txt", Manifiesto(version, entradas));
    }
    int Correr(const std::string &url, int instalar)
    {
        EscribirArchivo(*this / RUTA_SERVIDOR, url + "\n");
        NuevoRegistro(&a, juego);
        a.modoInstalacion = instalar;
        pausas.ms.clear();
        return Actualizar(&a);
    }
    std::string Registro(const std::string &servidor, const char *cual) const
    {
        return estado + "\\nginx-" + servidor + "\\" + cual + ".log";
    }
    // The lines of a server's log from byte `desde` on that hold `parte`. nginx may log a moment
    // after the engine is done with a connection: when `cuantas` are expected, wait up to 5 s.
    static std::vector<std::string> Lineas(const std::string &log, size_t desde, const std::string &parte,
                                           size_t cuantas = 0)
    {
        std::vector<std::string> halladas;
        for (int espera = 0; espera < 100; espera++) {
            halladas.clear();
            std::string texto = LeerArchivo(log);
            for (size_t i = desde; i < texto.size();) {
                size_t fin = texto.find('\n', i);
                fin = fin == std::string::npos ? texto.size() : fin;
                if (Contiene(texto.substr(i, fin - i), parte))
                    halladas.push_back(texto.substr(i, fin - i));
                i = fin + 1;
            }
            if (halladas.size() >= cuantas)
                break;
            Sleep(50);
        }
        return halladas;
    }
    // The requests of this test's path that a server logged.
    std::vector<std::string> Accesos(const std::string &servidor, size_t cuantas = 0)
    {
        return Lineas(Registro(servidor, "access"), 0, camino, cuantas);
    }
    // Every request went over TLS 1.2 from the engine and was answered with this status.
    void ComprobarTls(const std::vector<std::string> &accesos, int estadoHttp = 200)
    {
        for (const std::string &l : accesos) {
            EXPECT_TRUE(Contiene(l, "\" " + std::to_string(estadoHttp) + " ")) << l;
            EXPECT_TRUE(Contiene(l, " TLSv1.2 ")) << l;
            EXPECT_TRUE(Contiene(l, "\"Brumaria/1\"")) << l;
        }
    }
    void ComprobarArchivos(const Archivos &archivos)
    {
        for (const auto &[ruta, contenido] : archivos)
            EXPECT_EQ(LeerArchivo(*this / ruta), contenido) << ruta;
    }
};

static const std::string mapa = [] {
    std::string m(300000, 0);
    for (size_t i = 0; i < m.size(); i++)
        m[i] = (char)(i * 7 + i / 1009);
    return m;
}();

static const Archivos v1 = {
    {"Brumaria.exe", "lanzador 1"},
    {"Uninstall.exe", "desinstalador"},
    {"Recursos\\BRM.exe", "juego 1"},
    {"Recursos\\Mapas\\norte.map", mapa},
    {"Recursos\\leeme.txt", "leeme 1"},
};

TEST_F(Https, InstallThenUpdate)
{
    Publicar(1, v1);
    ASSERT_EQ(Correr(Url("bueno"), 1), ACT_LISTO) << a.error;
    ComprobarArchivos(v1);
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "1\n");
    EXPECT_TRUE(HayLinea("servidor de descargas de pruebas: " + Url("bueno")));
    EXPECT_EQ(lineas.back(), "actualizador: listo (version 1)");
    std::vector<std::string> accesos = Accesos("bueno", 6);
    EXPECT_EQ(accesos.size(), 6u);  // the manifest and five bodies
    ComprobarTls(accesos);

    Archivos v2 = v1;
    v2["Recursos\\BRM.exe"] = "juego 2, mas largo";
    v2["Recursos\\Mapas\\sur.map"] = mapa.substr(1000);
    v2.erase("Recursos\\leeme.txt");
    Publicar(2, v2);
    ASSERT_EQ(Correr(Url("bueno"), 0), ACT_LISTO) << a.error;
    ComprobarArchivos(v2);
    EXPECT_FALSE(Existe((*this / "Recursos\\leeme.txt").c_str()));
    EXPECT_EQ(LeerArchivo(*this / RUTA_VERSION), "2\n");
    EXPECT_TRUE(HayLinea("  2 archivos para actualizar"));
    accesos = Accesos("bueno", 9);
    EXPECT_EQ(accesos.size(), 9u);  // and then the manifest and the two new bodies
    ComprobarTls(accesos);
}

// A body cut short by an earlier run is asked for from where it stopped, over TLS as well.
TEST_F(Https, ResumesAStagedBody)
{
    Publicar(1, v1);
    const std::string sha = ShaHex(mapa);
    EscribirArchivo(*this / RUTA_DESCARGAS "\\" + sha + ".part", mapa.substr(0, 100000));
    ASSERT_EQ(Correr(Url("bueno"), 1), ACT_LISTO) << a.error;
    ComprobarArchivos(v1);
    std::vector<std::string> accesos = Accesos("bueno", 6), cuerpo;
    for (const std::string &l : accesos)
        if (Contiene(l, sha))
            cuerpo.push_back(l);
    ASSERT_EQ(cuerpo.size(), 1u);
    ComprobarTls(cuerpo, 206);
    EXPECT_TRUE(Contiene(cuerpo[0], " 206 200000 TLSv1.2 range=\"bytes=100000-\" ")) << cuerpo[0];
    EXPECT_EQ(accesos.size(), 6u);
}

// Servers the engine must not talk to: each run makes its four attempts at the manifest, fails
// them in the connection (status 0), ends with code 2, writes no file into the game folder and
// sends no request that a server could read; the server's log shows each attempt end where it
// should. The same release then installs into the same folder from the trusted server, so what
// refused the others was the connection alone.
TEST_F(Https, RefusedServers)
{
    // A client that judges the certificate finishes the handshake, then leaves without asking.
    static const char *const sinPedir = "client closed connection while waiting for request";
    static const struct {
        const char *nombre, *servidor, *host;
        const char *registro, *huella;  // the log, and what it holds for each attempt
    } casos[] = {
        {"ca-desconocida", "ajena", "localhost", "error", sinPedir},
        {"direccion-ip", "bueno", "127.0.0.1", "error", sinPedir},  // the certificate names localhost
        {"otro-nombre", "otro_nombre", "localhost", "error", sinPedir},
        {"vencido", "vencido", "localhost", "error", sinPedir},
        // The engine asks for TLS 1.0 to 1.2 only: no common version. Wine 8's WinHTTP could
        // not do better anyway: it offers those three whatever the mask, though its TLS library
        // speaks 1.3.
        {"solo-tls13", "tls13", "localhost", "error", "unsupported protocol) while SSL handshaking"},
        // nginx takes the ClientHello for a request line and answers 400 in plain text.
        {"http-en-puerto-tls", "plano", "localhost", "access", "] \"\\x16\\x03"},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.nombre);
        Usar(c.nombre);
        BorrarTodo(juego);
        Publicar(1, v1);
        const std::string url = Url(c.servidor, c.host), log = Registro(c.servidor, c.registro);
        const size_t antes = LeerArchivo(log).size();
        EXPECT_EQ(Correr(url, 1), ACT_SIN_SERVIDOR);
        EXPECT_EQ(std::string(a.error), "no se pudo bajar " + url + "manifiesto.txt (HTTP 0)");
        for (int k = 1; k <= 4; k++)
            EXPECT_TRUE(HayLinea("  manifiesto: HTTP 0 (intento " + std::to_string(k) + ")")) << k;
        EXPECT_EQ(pausas.ms, (std::vector<DWORD>{1000, 2000, 3000}));
        std::vector<std::string> escritos;
        ListarArchivos(juego, "", escritos);
        EXPECT_EQ(escritos, std::vector<std::string>{RUTA_SERVIDOR});
        EXPECT_EQ(Lineas(log, antes, c.huella, 4).size(), 4u) << LeerArchivo(log).substr(antes);
        for (const auto &[servidor, puerto] : puertos) {
            std::vector<std::string> accesos = Accesos(servidor);
            EXPECT_TRUE(accesos.empty()) << servidor << ": " << accesos.front();
        }
    }
    ASSERT_EQ(Correr(Url("bueno"), 1), ACT_LISTO) << a.error;
    ComprobarArchivos(v1);
}
