// Staging: one verified body per pending digest, reused, resumed and retried.
#include "comun.h"
#include "firma.h"
#include "servidor.h"

#include <algorithm>
#include <thread>

struct Descargas : ::testing::Test {
    ServidorGuion servidor;
    MotorConectado motor{servidor.url};
    std::string A = std::string(150000, 'a') + "fin de a", B = "cuerpo de b";

    std::string Staging(const std::string &contenido, const char *extension) const
    {
        return motor.carpeta / (RUTA_DESCARGAS "\\" + ShaHex(contenido) + extension);
    }
    std::string Cuerpo(const std::string &contenido) const { return "/a/" + ShaHex(contenido) + ".bin"; }
    // A first install of these entries: every one pending.
    int Bajar(const std::string &entradas)
    {
        EXPECT_EQ(CargarManifiesto(Manifiesto(1, entradas)), 0) << motor.a.error;
        DecidirCambios();
        lineas.clear();
        eventos.clear();
        return BajarPendientes();
    }
    // The requests made, sorted: bodies go several at once, in no fixed order.
    std::vector<std::string> Rutas()
    {
        std::vector<std::string> r;
        for (const Peticion &p : servidor.Peticiones())
            r.push_back(p.ruta + (p.rango.empty() ? "" : " " + p.rango));
        return Ordenadas(r);
    }
    static std::vector<std::string> Ordenadas(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }
};

TEST_F(Descargas, OneDownloadPerDigest)
{
    servidor.Responder(Cuerpo(A), A);
    servidor.Responder(Cuerpo(B), B);
    ASSERT_EQ(Bajar(LineaEntrada("uno.dat", A) + LineaEntrada("Recursos\\dos.dat", A) + LineaEntrada("b.txt", B)), 0) << motor.a.error;
    EXPECT_EQ(Rutas(), Ordenadas({Cuerpo(A), Cuerpo(B)}));
    EXPECT_EQ(totalBajar, A.size() + B.size());
    EXPECT_EQ(hechoTotal, totalBajar);
    EXPECT_EQ(LeerArchivo(Staging(A, ".bin")), A);
    EXPECT_EQ(LeerArchivo(Staging(B, ".bin")), B);
    EXPECT_FALSE(Existe(Staging(A, ".part").c_str()));
    EXPECT_EQ(lineas, (std::vector<std::string>{"  bajando uno.dat (150008 bytes)", "  bajando b.txt (11 bytes)"}));
    // Every event counts towards one total, never past it, and the last one reaches it.
    ASSERT_FALSE(eventos.empty());
    for (size_t i = 0; i < eventos.size(); i++) {
        EXPECT_EQ(eventos[i].texto, L"Descargando actualización");
        EXPECT_EQ(eventos[i].total, totalBajar);
        if (i) {
            EXPECT_GT(eventos[i].hecho, eventos[i - 1].hecho);
        }
    }
    EXPECT_EQ(eventos.back().hecho, totalBajar);
}

TEST_F(Descargas, StagedFilesFromAnEarlierRun)
{
    const std::string C = "cuerpo de c", Vacio = "";
    EscribirArchivo(Staging(A, ".bin"), A);                        // intact: reused
    EscribirArchivo(Staging(B, ".bin"), std::string(B.size(), 'x'));  // wrong digest: fetched again
    EscribirArchivo(Staging(C, ".part"), C);                       // complete: accepted as it is
    servidor.Responder(Cuerpo(B), B);
    ASSERT_EQ(Bajar(LineaEntrada("a", A) + LineaEntrada("b", B) + LineaEntrada("c", C) + LineaEntrada("vacio", Vacio)), 0) << motor.a.error;
    EXPECT_EQ(Rutas(), std::vector<std::string>{Cuerpo(B)});  // a size-0 body needs no request either
    EXPECT_EQ(LeerArchivo(Staging(B, ".bin")), B);
    EXPECT_EQ(LeerArchivo(Staging(C, ".bin")), C);
    EXPECT_TRUE(Existe(Staging(Vacio, ".bin").c_str()));
    EXPECT_EQ(hechoTotal, totalBajar);
    for (const Evento &e : eventos)
        EXPECT_GE(e.hecho, A.size());  // the reused body counted from the start, without an event
}

TEST_F(Descargas, PartialBodiesAreResumed)
{
    const std::string C = "0123456789 cuerpo de c";
    EscribirArchivo(Staging(A, ".part"), A.substr(0, 70000));
    EscribirArchivo(Staging(B, ".part"), "basura");  // a server that ignores Range starts it over
    EscribirArchivo(Staging(C, ".part"), C + "de mas");  // longer than the body: fetched whole
    Respuesta b = Con(200, B);
    b.rango = false;
    servidor.Responder(Cuerpo(A), A);
    servidor.Responder(Cuerpo(B), {b});
    servidor.Responder(Cuerpo(C), C);
    ASSERT_EQ(Bajar(LineaEntrada("a", A) + LineaEntrada("b", B) + LineaEntrada("c", C)), 0) << motor.a.error;
    EXPECT_EQ(Rutas(), Ordenadas({Cuerpo(A) + " bytes=70000-", Cuerpo(B) + " bytes=6-", Cuerpo(C)}));
    EXPECT_EQ(LeerArchivo(Staging(A, ".bin")), A);
    EXPECT_EQ(LeerArchivo(Staging(B, ".bin")), B);
    EXPECT_EQ(LeerArchivo(Staging(C, ".bin")), C);
    EXPECT_EQ(hechoTotal, totalBajar);
}

// A transfer that stops short keeps what it brought: the next attempt asks for the rest, so a
// body over a line that keeps breaking still arrives, each byte fetched about once.
TEST(DescargasCortadas, ABodyCutTwiceIsResumedWithinOneRun)
{
    const std::string A = std::string(150000, 'a') + "fin de a";
    const size_t n = A.size();
    for (bool conLargo : {true, false}) {
        SCOPED_TRACE(conLargo ? "with Content-Length" : "without Content-Length");
        ServidorGuion servidor;
        MotorConectado motor{servidor.url};
        Respuesta mitad = Con(200, A), cuarto = Con(200, A);
        mitad.cortarEn = n / 2;
        cuarto.cortarEn = n / 4;  // half of what is left after the first cut
        mitad.sinLargo = cuarto.sinLargo = !conLargo;
        servidor.Responder("/a/" + ShaHex(A) + ".bin", {mitad, cuarto, Con(200, A)});
        ASSERT_EQ(CargarManifiesto(Manifiesto(1, LineaEntrada("Recursos\\a.pak", A))), 0);
        DecidirCambios();
        lineas.clear();
        ASSERT_EQ(BajarPendientes(), 0) << motor.a.error;
        EXPECT_EQ(LeerArchivo(motor.carpeta / (RUTA_DESCARGAS "\\" + ShaHex(A) + ".bin")), A);
        EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{1000, 2000}));
        EXPECT_EQ(hechoTotal, n);

        std::vector<Peticion> p = servidor.Peticiones();
        ASSERT_EQ(p.size(), 3u);
        EXPECT_EQ(p[0].rango, "");
        ASSERT_EQ(p[1].rango.compare(0, 6, "bytes="), 0);
        ASSERT_EQ(p[2].rango.compare(0, 6, "bytes="), 0);
        size_t desde1 = std::stoul(p[1].rango.substr(6)), desde2 = std::stoul(p[2].rango.substr(6));
        // What the server sent: each cut answer up to its cut, the last one whole from its offset.
        size_t enviado = n / 2 + std::min(n / 4, n - desde1) + (n - desde2);
        EXPECT_LE(enviado, n + BLOQUE_HTTP);
        EXPECT_GT(desde1, 0u);
        EXPECT_GT(desde2, desde1);
    }
}

TEST_F(Descargas, TooManyRequestsWaitsElevenSecondsEachTime)
{
    servidor.Responder(Cuerpo(B), {Con(429), Con(429), Con(429), Con(200, B)});
    ASSERT_EQ(Bajar(LineaEntrada("b", B)), 0) << motor.a.error;
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{11000, 11000, 11000}));
    EXPECT_EQ(lineas[1], "  b: HTTP 429 (intento 1)");
    EXPECT_EQ(lineas[3], "  b: HTTP 429 (intento 3)");
}

TEST_F(Descargas, FourFailuresEndTheRunAndKeepThePart)
{
    servidor.Responder(Cuerpo(A), {Con(503), Con(404)});
    EscribirArchivo(Staging(A, ".part"), A.substr(0, 1000));
    EXPECT_EQ(Bajar(LineaEntrada("Recursos\\a.pak", A)), ACT_SIN_SERVIDOR);
    EXPECT_STREQ(motor.a.error, "no se pudo bajar Recursos\\a.pak");
    EXPECT_STREQ(motor.a.archivoFallido, "");
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{1000, 2000, 3000}));
    EXPECT_EQ(lineas, (std::vector<std::string>{
                          "  bajando Recursos\\a.pak (150008 bytes)",
                          "  Recursos\\a.pak: HTTP 503 (intento 1)",
                          "  Recursos\\a.pak: HTTP 404 (intento 2)",
                          "  Recursos\\a.pak: HTTP 404 (intento 3)",
                          "  Recursos\\a.pak: HTTP 404 (intento 4)",
                          "ERROR (2): no se pudo bajar Recursos\\a.pak",
                      }));
    EXPECT_EQ(LeerArchivo(Staging(A, ".part")), A.substr(0, 1000));
    EXPECT_EQ(hechoTotal, 0u);
}

TEST_F(Descargas, BodiesThatArriveWrongAreFetchedAgain)
{
    Respuesta corto = Con(200, A.substr(0, A.size() - 1));
    Respuesta largo = Con(200, A + std::string(200000, '+'));
    Respuesta otro = Con(200, std::string(A.size(), 'o'));
    servidor.Responder(Cuerpo(A), {corto, largo, otro, Con(200, A)});
    ASSERT_EQ(Bajar(LineaEntrada("a", A)), 0) << motor.a.error;
    ASSERT_EQ(lineas.size(), 4u);
    EXPECT_EQ(lineas[1], "  a llego mal (150007 de 150008 bytes), se baja de nuevo");
    // Stopped at the size promised: the excess is counted but never written.
    EXPECT_EQ(lineas[2].substr(0, 14), "  a llego mal ");
    EXPECT_EQ(lineas[3], "  a llego mal (150008 de 150008 bytes), se baja de nuevo");
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{1000, 2000, 3000}));
    EXPECT_EQ(LeerArchivo(Staging(A, ".bin")), A);
    for (const Evento &e : eventos)
        EXPECT_LE(e.hecho, e.total);
}

TEST_F(Descargas, StagingFileThatCannotBeCreated)
{
    EscribirArchivo(motor.carpeta / RUTA_DESCARGAS, "un archivo donde va la carpeta");
    EXPECT_EQ(Bajar(LineaEntrada("Recursos\\b.txt", B)), ACT_ARCHIVO);
    EXPECT_STREQ(motor.a.archivoFallido, "Recursos\\b.txt");
    EXPECT_EQ(motor.a.error, "no se pudo crear " + Staging(B, ".part") + " (error 3)");
    EXPECT_TRUE(servidor.Peticiones().empty());
}

TEST_F(Descargas, GameFolderTooLongForTheStagingNames)
{
    // 190 characters of staging folder: its ".part" names would need 260.
    std::string largo = motor.carpeta.ruta + "\\" +
                        std::string(190 - motor.carpeta.ruta.size() - 1 - strlen(RUTA_DESCARGAS) - 1, 'l');
    lstrcpyA(motor.a.carpeta, largo.c_str());
    EXPECT_EQ(Bajar(LineaEntrada("x.txt", "x") + LineaEntrada("Recursos\\b.txt", B)), ACT_ARCHIVO);
    EXPECT_STREQ(motor.a.archivoFallido, "x.txt");
    EXPECT_EQ(motor.a.error, "ruta demasiado larga: " + largo + "\\" RUTA_DESCARGAS "\\" + ShaHex("x") + ".part");
    EXPECT_TRUE(servidor.Peticiones().empty());
    EXPECT_FALSE(Existe((largo + "\\Recursos").c_str()));

    // One character less fits.
    largo.pop_back();
    lstrcpyA(motor.a.carpeta, largo.c_str());
    servidor.Responder(Cuerpo("x"), "x");
    servidor.Responder(Cuerpo(B), B);
    EXPECT_EQ(Bajar(LineaEntrada("x.txt", "x") + LineaEntrada("Recursos\\b.txt", B)), 0) << motor.a.error;
}

// ---- several bodies at once ----

// Six bodies of some 100 KB, each its own content.
static std::vector<std::string> Seis()
{
    std::vector<std::string> v;
    for (char c = 'a'; c < 'g'; c++)
        v.push_back(std::string(100000, c) + "fin");
    return v;
}

static std::string Entradas(const std::vector<std::string> &cuerpos)
{
    std::string texto;
    for (size_t i = 0; i < cuerpos.size(); i++)
        texto += LineaEntrada(std::string(1, (char)('a' + i)), cuerpos[i]);
    return texto;
}

TEST_F(Descargas, BodiesTravelAtOnceAndTheLogKeepsTableOrder)
{
    std::vector<std::string> c = Seis();
    static_assert(EN_VUELO < 6, "more bodies than places");
    // The first ones answer only once EN_VUELO requests came: only that many out together get
    // them.
    for (int i = 0; i < 6; i++) {
        Respuesta r = Con(200, c[i]);
        r.tras = i < EN_VUELO ? EN_VUELO : 0;
        servidor.Responder(Cuerpo(c[i]), {r});
    }
    ASSERT_EQ(Bajar(Entradas(c)), 0) << motor.a.error;
    int esperaron = 0;
    for (const Peticion &p : servidor.Peticiones())
        esperaron += p.esperoBien;
    EXPECT_EQ(esperaron, EN_VUELO);
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(LeerArchivo(Staging(c[i], ".bin")), c[i]);
    std::vector<std::string> esperadas;
    for (int i = 0; i < 6; i++)
        esperadas.push_back("  bajando " + std::string(1, (char)('a' + i)) + " (100003 bytes)");
    EXPECT_EQ(lineas, esperadas);
    ASSERT_FALSE(eventos.empty());
    for (size_t i = 1; i < eventos.size(); i++)
        EXPECT_GE(eventos[i].hecho, eventos[i - 1].hecho);
    EXPECT_EQ(eventos.back().hecho, totalBajar);
    EXPECT_EQ(hechoTotal, totalBajar);
}

// One body that never comes does not hold the others back: while it waits for its next
// attempt the rest arrive, the later ones in the places the first ones left. Its first
// answer is whole but wrong: the bytes it took back never show as progress going back.
TEST_F(Descargas, OneBodyFailingWhileTheOthersArrive)
{
    std::vector<std::string> c = Seis();
    servidor.Responder(Cuerpo(c[0]), {Con(200, std::string(c[0].size(), 'x')), Con(404)});
    for (int i = 1; i < 6; i++)
        servidor.Responder(Cuerpo(c[i]), c[i]);
    EXPECT_EQ(Bajar(Entradas(c)), ACT_SIN_SERVIDOR);
    EXPECT_STREQ(motor.a.error, "no se pudo bajar a");
    EXPECT_EQ(motor.pausas.ms, (std::vector<DWORD>{1000, 2000, 3000}));
    for (int i = 1; i < 6; i++)
        EXPECT_EQ(LeerArchivo(Staging(c[i], ".bin")), c[i]);
    // The bodies' lines interleave as their transfers end; each body's own come in order.
    std::vector<std::string> bajando, deA;
    for (const std::string &l : lineas)
        (l.compare(0, 10, "  bajando ") == 0 ? bajando : deA).push_back(l);
    EXPECT_EQ(bajando, (std::vector<std::string>{
                           "  bajando a (100003 bytes)", "  bajando b (100003 bytes)", "  bajando c (100003 bytes)",
                           "  bajando d (100003 bytes)", "  bajando e (100003 bytes)", "  bajando f (100003 bytes)"}));
    EXPECT_EQ(deA, (std::vector<std::string>{
                       "  a llego mal (100003 de 100003 bytes), se baja de nuevo",
                       "  a: HTTP 404 (intento 2)",
                       "  a: HTTP 404 (intento 3)",
                       "  a: HTTP 404 (intento 4)",
                       "ERROR (2): no se pudo bajar a",
                   }));
    ASSERT_FALSE(eventos.empty());
    for (size_t i = 1; i < eventos.size(); i++)
        EXPECT_GE(eventos[i].hecho, eventos[i - 1].hecho);
}

// A 429 holds every request back for 11 s: a body that failed otherwise at the same moment,
// due again after 1 s, waits for the same 11 s, while the bodies already on their way arrive.
TEST_F(Descargas, TooManyRequestsPausesEveryBody)
{
    std::vector<std::string> c = Seis();
    c.resize(4);
    servidor.Responder(Cuerpo(c[0]), {Con(429), Con(200, c[0])});
    servidor.Responder(Cuerpo(c[1]), {Con(503), Con(200, c[1])});
    servidor.Responder(Cuerpo(c[2]), c[2]);
    servidor.Responder(Cuerpo(c[3]), c[3]);
    ASSERT_EQ(Bajar(Entradas(c)), 0) << motor.a.error;
    EXPECT_EQ(motor.pausas.ms, std::vector<DWORD>{11000});
    EXPECT_EQ(Rutas(), Ordenadas({Cuerpo(c[0]), Cuerpo(c[0]), Cuerpo(c[1]), Cuerpo(c[1]), Cuerpo(c[2]), Cuerpo(c[3])}));
    EXPECT_TRUE(HayLinea("  a: HTTP 429 (intento 1)"));
    EXPECT_TRUE(HayLinea("  b: HTTP 503 (intento 1)"));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(LeerArchivo(Staging(c[i], ".bin")), c[i]);
}

// A transfer that stalls half-way holds up no other: the second body is staged long before the
// first one's time-out ends its attempt. Real time is the point here.
TEST_F(Descargas, AStalledBodyHoldsUpNoOther)
{
    std::vector<std::string> c = Seis();
    c.resize(2);
    Respuesta colgada = Con(200, c[0]);
    colgada.cortarEn = 80000;
    colgada.colgar = true;
    servidor.Responder(Cuerpo(c[0]), {colgada, Con(200, c[0])});
    servidor.Responder(Cuerpo(c[1]), c[1]);
    PonerPlazos(5000);
    DWORD inicio = GetTickCount(), staged = 0;
    std::thread vigia([&] {
        while (!Existe(Staging(c[1], ".bin").c_str()) && GetTickCount() - inicio < 20000)
            Sleep(10);
        staged = GetTickCount() - inicio;
    });
    ASSERT_EQ(Bajar(Entradas(c)), 0) << motor.a.error;
    DWORD total = GetTickCount() - inicio;
    vigia.join();
    EXPECT_GE(total, 5000u);
    EXPECT_LT(staged, 2500u);
    EXPECT_EQ(Rutas(), Ordenadas({Cuerpo(c[0]), Cuerpo(c[0]) + " bytes=80000-", Cuerpo(c[1])}));
}

// A run killed while every place has a body on its way leaves that many ".part" files; the next
// run asks each for its rest only.
TEST(DescargasMuerte, PartsInFlightAreResumedByTheNextRun)
{
    ServidorGuion servidor;
    CarpetaTemporal juego;
    EscribirArchivo(juego / RUTA_SERVIDOR, servidor.url);
    std::vector<std::string> c = Seis();
    c.resize(EN_VUELO);
    std::string entradas;
    for (int i = 0; i < EN_VUELO; i++) {
        entradas += LineaEntrada("Recursos\\" + std::string(1, (char)('a' + i)) + ".pak", c[i]);
        // More than one read block, then silence until the client goes.
        Respuesta cortada = Con(200, c[i]);
        cortada.cortarEn = 80000;
        cortada.colgar = true;
        servidor.Responder("/a/" + ShaHex(c[i]) + ".bin", {cortada, Con(200, c[i])});
    }
    servidor.Responder("/manifiesto.txt", Manifiesto(1, entradas));
    auto largo = [&](int i) {
        ULONGLONG tam;
        std::string part = juego / (RUTA_DESCARGAS "\\" + ShaHex(c[i]) + ".part");
        return TamFecha(part.c_str(), &tam, NULL) ? (size_t)tam : 0;
    };

    HANDLE primero = Ayudante("correr \"" + juego.ruta + "\" 0", juego / "primero.txt");
    EXPECT_TRUE(Hasta([&] {
        for (int i = 0; i < EN_VUELO; i++)
            if (!largo(i))
                return false;
        return true;
    }))
        << LeerArchivo(juego / "primero.txt");
    TerminateProcess(primero, 9);
    EsperarProceso(primero);
    size_t tenia[EN_VUELO];
    for (int i = 0; i < EN_VUELO; i++)
        tenia[i] = largo(i);

    HANDLE segundo = Ayudante("correr \"" + juego.ruta + "\" 0", juego / "segundo.txt");
    EXPECT_EQ(EsperarProceso(segundo), 0u) << LeerArchivo(juego / "segundo.txt");
    for (int i = 0; i < EN_VUELO; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(LeerArchivo(juego / ("Recursos\\" + std::string(1, (char)('a' + i)) + ".pak")), c[i]);
        std::vector<std::string> rangos;
        for (const Peticion &p : servidor.Peticiones())
            if (p.ruta == "/a/" + ShaHex(c[i]) + ".bin")
                rangos.push_back(p.rango);
        EXPECT_EQ(rangos, (std::vector<std::string>{"", "bytes=" + std::to_string(tenia[i]) + "-"}));
    }
}
