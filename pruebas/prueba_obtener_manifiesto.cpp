// Fetching the manifest: attempts, pauses, sizes, time-outs and the version gate.
#include "comun.h"
#include "firma.h"
#include "servidor.h"

static const std::string D1 = std::string(64, 'a');

struct Obtener : ::testing::Test {
    ServidorGuion servidor;
    MotorConectado motor{servidor.url};
    std::string url = servidor.url + "manifiesto.txt";
    std::string bueno = Manifiesto(7, "a.txt|5|" + D1 + "\n");
};

TEST_F(Obtener, RetriesWithGrowingPauses)
{
    servidor.Responder("/manifiesto.txt", {Con(503), Con(503), Con(503), Con(200, bueno)});
    ASSERT_EQ(ObtenerManifiesto(), 0) << motor.a.error;
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{1000, 2000, 3000}));
    EXPECT_EQ(lineas, (std::vector<std::string>{
                          "  manifiesto: HTTP 503 (intento 1)",
                          "  manifiesto: HTTP 503 (intento 2)",
                          "  manifiesto: HTTP 503 (intento 3)",
                          "  manifiesto version 7: 1 archivos",
                      }));
    EXPECT_EQ(servidor.Peticiones().size(), 4u);
    EXPECT_EQ(motor.a.version, 7u);
    EXPECT_EQ(nEnt, 1);
}

TEST_F(Obtener, TooManyRequestsWaitsElevenSeconds)
{
    servidor.Responder("/manifiesto.txt", {Con(429), Con(0), Con(200, bueno)});
    ASSERT_EQ(ObtenerManifiesto(), 0) << motor.a.error;
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{11000, 2000}));
    EXPECT_EQ(lineas[0], "  manifiesto: HTTP 429 (intento 1)");
    EXPECT_EQ(lineas[1], "  manifiesto: HTTP 0 (intento 2)");
}

TEST_F(Obtener, GivesUpAfterFourAttempts)
{
    servidor.Responder("/manifiesto.txt", {Con(404)});
    EXPECT_EQ(ObtenerManifiesto(), ACT_SIN_SERVIDOR);
    EXPECT_EQ(motor.a.error, "no se pudo bajar " + url + " (HTTP 404)");
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{1000, 2000, 3000}));
    EXPECT_EQ(lineas.size(), 5u);
    EXPECT_EQ(lineas[3], "  manifiesto: HTTP 404 (intento 4)");
    EXPECT_EQ(lineas[4], "ERROR (2): no se pudo bajar " + url + " (HTTP 404)");
}

TEST_F(Obtener, BodySizes)
{
    struct {
        size_t largo;
        int codigo;
        std::string error;
    } casos[] = {
        {0, 3, "manifiesto de 0 bytes"},
        {15, 3, "manifiesto de 15 bytes"},
        {LIMITE_MANIFIESTO, 3, "manifiesto de 1048576 bytes"},
        {LIMITE_MANIFIESTO + 1, 2, "no se pudo bajar " + url + " (HTTP 0)"},
        {16, 3, "manifiesto sin firma"},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.largo);
        servidor.Responder("/manifiesto.txt", std::string(c.largo, 'm'));
        motor.pausas.ms.clear();
        EXPECT_EQ(ObtenerManifiesto(), c.codigo);
        EXPECT_EQ(motor.a.error, c.error);
        // A body refused by the sink is a failed attempt; a received one is never fetched again.
        EXPECT_EQ(motor.pausas.ms.size(), c.codigo == 2 ? 3u : 0u);
    }
}

// A body that stops before the length its answer announced is a broken transfer, retried like
// one; a body that arrived whole and fails the check is refused at once.
TEST(ObtenerCortado, ShortBodyIsRetriedAndAWholeBadOneIsNot)
{
    std::string bueno = Manifiesto(7, "a.txt|5|" + D1 + "\n");
    Respuesta cortada = Con(200, bueno);
    cortada.cortarEn = bueno.size() / 2;
    Respuesta sinLargo = cortada;
    sinLargo.sinLargo = true;
    std::string otraFirma = bueno;
    otraFirma[otraFirma.size() - 2] = otraFirma[otraFirma.size() - 2] == '0' ? '1' : '0';
    struct {
        const char *nombre;
        std::vector<Respuesta> respuestas;
        int codigo;
        size_t peticiones;
        std::vector<DWORD> pausas;
    } casos[] = {
        {"cut once", {cortada, Con(200, bueno)}, 0, 2, {1000}},
        {"cut three times", {cortada, cortada, cortada, Con(200, bueno)}, 0, 4, {1000, 2000, 3000}},
        {"cut every time", {cortada}, ACT_SIN_SERVIDOR, 4, {1000, 2000, 3000}},
        // Without an announced length a cut body cannot be told from a whole one.
        {"cut without a length", {sinLargo, Con(200, bueno)}, ACT_MANIFIESTO, 1, {}},
        {"whole, bad signature", {Con(200, otraFirma), Con(200, bueno)}, ACT_MANIFIESTO, 1, {}},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.nombre);
        ServidorGuion propio;
        MotorConectado m{propio.url};
        propio.Responder("/manifiesto.txt", c.respuestas);
        EXPECT_EQ(ObtenerManifiesto(), c.codigo) << m.a.error;
        EXPECT_EQ(propio.Peticiones().size(), c.peticiones);
        EXPECT_EQ(m.pausas.ms, c.pausas);
        if (c.peticiones > 1) {
            EXPECT_EQ(lineas[0], "  manifiesto: HTTP 0 (intento 1)");
        }
        if (c.codigo == ACT_SIN_SERVIDOR) {
            EXPECT_STREQ(m.a.error, ("no se pudo bajar " + propio.url + "manifiesto.txt (HTTP 0)").c_str());
        }
    }
}

TEST_F(Obtener, VersionGate)
{
    EscribirArchivo(motor.carpeta / RUTA_VERSION, "7\n");
    servidor.Responder("/manifiesto.txt", bueno);
    EXPECT_EQ(ObtenerManifiesto(), 0) << motor.a.error;
    Liberar();
    ASSERT_EQ(Conectar(), 0);
    servidor.Responder("/manifiesto.txt", Manifiesto(6, "a.txt|5|" + D1 + "\n"));
    EXPECT_EQ(ObtenerManifiesto(), ACT_MANIFIESTO);
    EXPECT_STREQ(motor.a.error, "manifiesto version 6, mas viejo que el ultimo aplicado (7)");
    EXPECT_EQ(motor.a.version, 6u);
}

static DWORD Opcion(DWORD opcion)
{
    DWORD valor = 0, tam = sizeof valor;
    WinHttpQueryOption(sesion, opcion, &valor, &tam);
    return valor;
}

TEST_F(Obtener, QuickCheckTimeOutsAreOnlyForTheManifest)
{
    motor.a.plazoMs = 700;
    PonerPlazos(700);
    EXPECT_EQ(Opcion(WINHTTP_OPTION_RECEIVE_TIMEOUT), 700u);
    servidor.Responder("/manifiesto.txt", bueno);
    ASSERT_EQ(ObtenerManifiesto(), 0) << motor.a.error;
    EXPECT_EQ(Opcion(WINHTTP_OPTION_RESOLVE_TIMEOUT), 10000u);
    EXPECT_EQ(Opcion(WINHTTP_OPTION_CONNECT_TIMEOUT), 10000u);
    EXPECT_EQ(Opcion(WINHTTP_OPTION_SEND_TIMEOUT), 15000u);
    EXPECT_EQ(Opcion(WINHTTP_OPTION_RECEIVE_TIMEOUT), 30000u);
    EXPECT_EQ(Opcion(WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT), 30000u);
}

// Whole runs: start-up, the manifest phase, and the teardown.
struct Corrida : ::testing::Test {
    ServidorGuion servidor;
    CarpetaTemporal t;
    Actualizacion a;
    PausasGrabadas pausas;
    void SetUp() override
    {
        EscribirArchivo(t / RUTA_SERVIDOR, servidor.url);
        NuevoRegistro(&a, t.ruta);
        a.modoInstalacion = 1;
    }
};

TEST_F(Corrida, QuickCheckWithTheServerDown)
{
    EscribirArchivo(t / RUTA_SERVIDOR, UrlSinServidor());
    a.plazoMs = 1000;
    EXPECT_EQ(Actualizar(&a), ACT_SIN_SERVIDOR);
    EXPECT_TRUE(pausas.ms.empty());
    ASSERT_EQ(lineas.size(), 4u);
    EXPECT_EQ(lineas[2], "  manifiesto: HTTP 0 (intento 1)");
    EXPECT_EQ(lineas[3], std::string("ERROR (2): ") + a.error);
}

TEST_F(Corrida, QuickCheckTimesOutAfterItsOwnTimeOut)
{
    Respuesta lenta;
    lenta.cuerpo = Manifiesto(1, "a|1|" + D1 + "\n");
    lenta.demoraMs = 2500;
    servidor.Responder("/manifiesto.txt", {lenta});
    a.plazoMs = 600;
    ULONGLONG antes = GetTickCount64();
    EXPECT_EQ(Actualizar(&a), ACT_SIN_SERVIDOR);
    EXPECT_LT(GetTickCount64() - antes, 2000u);
}

TEST_F(Corrida, FailedRunReleasesEverythingAndTheNextStartsClean)
{
    std::string entradas;
    for (int i = 0; i < 50; i++)
        entradas += "f" + std::to_string(i) + "|1|" + D1 + "\noculto f" + std::to_string(i) + "\n";
    servidor.Responder("/manifiesto.txt", Manifiesto(4, entradas + "mal|1|x\n"));
    EXPECT_EQ(Actualizar(&a), ACT_MANIFIESTO);
    EXPECT_STREQ(a.error, "entrada invalida: mal");
    EXPECT_EQ(ent, nullptr);
    EXPECT_EQ(ocultos, nullptr);
    EXPECT_EQ(borrar, nullptr);
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(sesion, nullptr);
    EXPECT_EQ(algSha, nullptr);

    servidor.Responder("/manifiesto.txt", Manifiesto(5, "uno|1|" + D1 + "\n"));
    NuevoRegistro(&a, t.ruta);
    a.modoInstalacion = 1;
    lstrcpyA(a.error, "vieja");
    Actualizar(&a);
    EXPECT_TRUE(HayLinea("  manifiesto version 5: 1 archivos"));
    EXPECT_EQ(ent, nullptr);
    for (const Peticion &p : servidor.Peticiones()) {
        EXPECT_EQ(p.agente, "Brumaria/1");
        if (p.ruta == "/manifiesto.txt") {
            EXPECT_EQ(p.rango, "");
        }
    }
}

TEST_F(Corrida, ASecondProcessWaitsForTheFirstRunsTeardown)
{
    // The first run stalls on a manifest that comes late; the second starts meanwhile.
    Respuesta lenta;
    lenta.estado = 404;
    lenta.demoraMs = 1500;
    servidor.Responder("/manifiesto.txt", {lenta, Con(404)});
    CarpetaTemporal otra;
    EscribirArchivo(otra / RUTA_SERVIDOR, servidor.url);
    HANDLE primero = Ayudante("correr \"" + t.ruta + "\" 5000", t / "primero.txt");
    while (servidor.Peticiones().empty())
        Sleep(20);
    HANDLE segundo = Ayudante("correr \"" + otra.ruta + "\" 5000", otra / "segundo.txt");
    EXPECT_EQ(EsperarProceso(primero), 2u);
    EXPECT_EQ(EsperarProceso(segundo), 2u);

    // The helper prints each log line after the tick count it came at.
    auto tick = [](const std::string &salida, const std::string &texto) -> ULONGLONG {
        size_t i = salida.find(" " + texto);
        if (i == std::string::npos)
            return 0;
        return std::stoull(salida.substr(salida.rfind('\n', i) + 1));
    };
    std::string uno = LeerArchivo(t / "primero.txt"), dos = LeerArchivo(otra / "segundo.txt");
    // The first run's last line comes before its teardown lets the mutex go.
    ULONGLONG finPrimero = tick(uno, "ERROR (2)");
    ULONGLONG arranqueSegundo = tick(dos, "actualizador: buscando");
    ASSERT_NE(finPrimero, 0u) << uno;
    ASSERT_NE(arranqueSegundo, 0u) << dos;
    EXPECT_GE(arranqueSegundo, finPrimero) << uno << dos;
}
