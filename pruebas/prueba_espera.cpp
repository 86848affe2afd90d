// The game-running wait, with real processes under the game's names.
#include "comun.h"

struct Espera : ::testing::Test {
    CarpetaTemporal t;
    Actualizacion a;
    std::vector<HANDLE> procesos;

    void SetUp() override
    {
        NuevoRegistro(&a, t / "Juego");
        E = &a;
    }
    void TearDown() override
    {
        for (HANDLE p : procesos) {
            TerminateProcess(p, 0);
            EsperarProceso(p);
        }
    }
    // Runs the helper copied to `ruta` for `ms` milliseconds.
    HANDLE Juego(const std::string &ruta, int ms = 60000)
    {
        CrearCarpetas(ruta.c_str());
        EXPECT_TRUE(CopyFileA(ProgramaVecino("ayudante.exe").c_str(), ruta.c_str(), FALSE)) << ruta;
        HANDLE p = Lanzar(ruta, "dormir " + std::to_string(ms));
        procesos.push_back(p);
        // Until the process shows in a snapshot it cannot be waited for.
        EXPECT_TRUE(Hasta([p] { return EnFoto(p); })) << ruta;
        return p;
    }
};

TEST_F(Espera, WhichProcessesCountAsTheGame)
{
    std::string juego = t / "Juego";
    std::string mayusculas = juego;
    for (char &c : mayusculas)
        c = (char)toupper(c);
    struct {
        std::string ruta;
        const char *nombre;
        int vivo;
    } casos[] = {
        {juego + "\\Recursos\\BRM.exe", "BRM.exe", 1},
        {juego + "\\Corvalis.exe", "Corvalis.exe", 1},
        {juego + "\\Recursos\\Mapas\\hondo\\BRMCarga.exe", "BRMCarga.exe", 1},
        {juego + "\\Recursos\\brm.EXE", "BRM.exe", 1},            // name in other capitals
        {mayusculas + "\\Recursos\\BRM.exe", "BRM.exe", 1},         // folder in other capitals
        {juego + "2\\Recursos\\BRM.exe", "BRM.exe", 0},            // a sibling with a longer name
        {t / "Otro\\BRM.exe", "BRM.exe", 0},
        {juego + "\\Recursos\\Otro.exe", "BRM.exe", 0},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.ruta);
        HANDLE p = Juego(c.ruta);
        EXPECT_EQ(ProcesoVivo(c.nombre), c.vivo);
        TerminateProcess(p, 0);
        WaitForSingleObject(p, 5000);
        EXPECT_TRUE(Hasta([p] { return !EnFoto(p); }));
        EXPECT_EQ(ProcesoVivo(c.nombre), 0);
    }
    // A folder given with a trailing backslash matches no image path.
    Juego(juego + "\\Recursos\\BRM.exe");
    lstrcatA(a.carpeta, "\\");
    EXPECT_EQ(ProcesoVivo("BRM.exe"), 0);
}

TEST_F(Espera, NoGameReturnsAtOnceAfterSignallingTheLauncher)
{
    HANDLE relanzo = CreateEventA(NULL, TRUE, FALSE, "Local\\BRM_Relanzo");
    PausasGrabadas p;
    EXPECT_EQ(EsperarJuegoCerrado(), 1);
    EXPECT_EQ(WaitForSingleObject(relanzo, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(p.ms.empty());
    EXPECT_TRUE(eventos.empty());
    CloseHandle(relanzo);
}

TEST_F(Espera, AGameThatStaysOpenIsWaitedForThirtySeconds)
{
    Juego(t / "Juego\\Recursos\\BRM.exe");
    PausasGrabadas p;
    EXPECT_EQ(EsperarJuegoCerrado(), 0);
    EXPECT_EQ(p.ms, std::vector<DWORD>(60, 500));  // across the wrap of the tick count
    EXPECT_EQ(eventos.size(), 60u);
    EXPECT_EQ(eventos[0].texto, L"Esperando que se cierre el juego");
    EXPECT_EQ(eventos[0].total, 0u);
}

TEST_F(Espera, AGameThatExitsIsNoticedWithinHalfASecond)
{
    HANDLE juego = Juego(t / "Juego\\Corvalis.exe", 1500);
    ULONGLONG inicio = GetTickCount64();
    EXPECT_EQ(EsperarJuegoCerrado(), 1);
    WaitForSingleObject(juego, 0);
    ULONGLONG fin = GetTickCount64();
    EXPECT_GE(fin - inicio, 900u);
    EXPECT_LT(fin - inicio, 1500u + 500u + 300u);  // at most its whole life, a pause and a pass
    EXPECT_GE(eventos.size(), 2u);
}
