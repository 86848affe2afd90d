// Helpers, the version record, the launcher's signal and the error path.
#include "comun.h"

TEST(Unir, LimitOfThePathBuffer)
{
    std::string base(200, 'b');
    struct {
        const char *relativa;
        size_t largo;
    } casos[] = {
        {NULL, 200},
        {"", 200},
        {"x", 202},
    };
    char destino[MAX_PATH];
    for (const auto &c : casos) {
        Unir(destino, base.c_str(), c.relativa);
        EXPECT_EQ(strlen(destino), c.largo) << (c.relativa ? c.relativa : "(null)");
    }
    Unir(destino, base.c_str(), std::string(58, 'r').c_str());
    EXPECT_EQ(strlen(destino), 259u);
    EXPECT_EQ(destino[200], '\\');
    Unir(destino, base.c_str(), std::string(59, 'r').c_str());
    EXPECT_STREQ(destino, "");
}

TEST(LeerNumero, DigitsOnlyIn64Bits)
{
    struct {
        const char *texto;
        int resultado;
        ULONGLONG valor;
    } casos[] = {
        {"007", 1, 7},         {"", 0, 0},           {" 5", 0, 0},
        {"4294967296", 1, 4294967296ull},             {"12x", 1, 12},
        {"-1", 0, 0},          {"18446744073709551616", 1, 0},
    };
    for (const auto &c : casos) {
        ULONGLONG v = 99;
        EXPECT_EQ(LeerNumero(c.texto, &v), c.resultado) << c.texto;
        EXPECT_EQ(v, c.valor) << c.texto;
    }
}

TEST(EsHex, LowercaseDigitsOnly)
{
    std::string bien(64, 'a');
    bien.replace(0, 16, "0123456789abcdef");
    EXPECT_EQ(EsHex(bien.c_str(), 64), 1);
    std::string capital = bien;
    capital[40] = 'A';
    EXPECT_EQ(EsHex(capital.c_str(), 64), 0);
    EXPECT_EQ(EsHex(bien.substr(0, 63).c_str(), 64), 0);  // ends at its terminator
    EXPECT_EQ(EsHex((bien + "XYZ").c_str(), 64), 1);      // nothing past n is looked at
    EXPECT_EQ(EsHex("g", 1), 0);
}

TEST(Atributos, QuitarAtributosKeepsTheOtherBits)
{
    CarpetaTemporal t;
    std::string f = t / "f.txt";
    EscribirArchivo(f, "x");
    SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    QuitarAtributos(f.c_str());
    DWORD a = GetFileAttributesA(f.c_str());
    EXPECT_EQ(a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u);
    EXPECT_EQ(DeleteFileA(f.c_str()), TRUE);
    QuitarAtributos(f.c_str());  // missing: nothing happens

    EXPECT_EQ(Existe(t.ruta.c_str()), 1);
    EXPECT_EQ(EsCarpeta(t.ruta.c_str()), 1);
    EscribirArchivo(f, "x");
    EXPECT_EQ(Existe(f.c_str()), 1);
    EXPECT_EQ(EsCarpeta(f.c_str()), 0);
    EXPECT_EQ(Existe((t / "no").c_str()), 0);
}

TEST(CrearCarpetas, EveryFolderOnTheWay)
{
    CarpetaTemporal t;
    CrearCarpetas((t / "A\\B\\C\\archivo.txt").c_str());
    EXPECT_EQ(EsCarpeta((t / "A\\B\\C").c_str()), 1);
    EXPECT_EQ(Existe((t / "A\\B\\C\\archivo.txt").c_str()), 0);
    CrearCarpetas("sinbarra");
    EXPECT_EQ(Existe("sinbarra"), 0);
}

TEST(Memoria, PedirZeroFillsAndSoltarTakesNull)
{
    unsigned char *b = (unsigned char *)Pedir(4096);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 4096; i++)
        ASSERT_EQ(b[i], 0);
    Soltar(b);
    Soltar(NULL);
}

TEST(Formar, RefusesWhatDoesNotFit)
{
    char b[8];
    EXPECT_EQ(Formar(b, sizeof b, "%s.x", "abcde"), 1);
    EXPECT_STREQ(b, "abcde.x");
    EXPECT_EQ(Formar(b, sizeof b, "%s.x", "abcdef"), 0);  // 8 characters leave no room to end them
    EXPECT_STREQ(b, "");
    EXPECT_EQ(Formar(b, sizeof b, "%lu", 4294967295ul), 0);
}

TEST(VersionVista, ReadsTheRecordedVersion)
{
    CarpetaTemporal t;
    Actualizacion a;
    NuevoRegistro(&a, t.ruta);
    E = &a;
    struct {
        const char *texto;
        DWORD version;
    } casos[] = {
        {"7\n", 7},
        {"", 0},
        {"x7\n", 0},
        {"0012", 12},
        {"4294967298\n", 2},                           // low 32 bits
        {"1234567890123456789012345678901999", 242641973u},  // 31 characters read, wrapped
    };
    EXPECT_EQ(VersionVista(), 0u);  // no file
    std::string f = t / RUTA_VERSION;
    for (const auto &c : casos) {
        EscribirArchivo(f, c.texto);
        EXPECT_EQ(VersionVista(), c.version) << c.texto;
    }
}

TEST(AvisarRelanzo, SetsTheLaunchersEventWhenItExists)
{
    AvisarRelanzo();  // no launcher: nothing happens
    HANDLE ev = CreateEventA(NULL, TRUE, FALSE, "Local\\BRM_Relanzo");
    ASSERT_NE(ev, nullptr);
    AvisarRelanzo();
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
    CloseHandle(ev);
}

TEST(Fallar, CutsTheMessageIn511CharactersEverywhere)
{
    Actualizacion a;
    NuevoRegistro(&a, "C:\\x");
    E = &a;
    std::string largo(600, 'm');
    EXPECT_EQ(Fallar(3, "linea invalida: %s", largo.c_str()), 3);
    EXPECT_EQ(strlen(a.error), 511u);
    EXPECT_EQ(std::string(a.error), ("linea invalida: " + largo).substr(0, 511));
    ASSERT_EQ(lineas.size(), 1u);
    EXPECT_EQ(lineas[0], std::string("ERROR (3): ") + a.error);

    // Without callbacks the record is filled all the same.
    a.anotar = NULL;
    a.progreso = NULL;
    EXPECT_EQ(Fallar(7, "sin memoria"), 7);
    EXPECT_STREQ(a.error, "sin memoria");
    Avisar(L"Terminando", 0, 0);
    EXPECT_EQ(lineas.size(), 1u);
    EXPECT_TRUE(eventos.empty());
}

TEST(Avisar, PassesTheEventUnchanged)
{
    Actualizacion a;
    NuevoRegistro(&a, "C:\\x");
    int dato;
    a.datoProgreso = &dato;
    a.progreso = [](void *d, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total) {
        EXPECT_NE(d, nullptr);
        ProgresoPrueba(d, texto, hecho, total);
    };
    E = &a;
    Avisar(L"Esperando que se cierre el juego", 0, 0);
    Avisar(L"Descargando actualización", 5000000000ull, 6000000000ull);
    ASSERT_EQ(eventos.size(), 2u);
    EXPECT_EQ(eventos[0].texto, L"Esperando que se cierre el juego");
    EXPECT_EQ(eventos[1].hecho, 5000000000ull);
    EXPECT_EQ(eventos[1].total, 6000000000ull);
}

TEST(DelJugador, ThePlayersFoldersAndWhatTheyHold)
{
    struct {
        const char *relativa;
        int carpeta, contenido;  // DelJugador(relativa, 0), DelJugador(relativa, 1)
    } casos[] = {
        {"Recursos\\Local", 1, 1},
        {"recursos\\AVANZADO", 1, 1},
        {"Recursos\\Local\\Actualizador\\descargas", 0, 1},
        {"Recursos\\Avanzado\\ServidorDescargas.txt", 0, 1},
        {"Recursos\\Locales", 0, 0},  // a sibling whose name begins the same
        {"Recursos\\Loca", 0, 0},
        {"Recursos", 0, 0},
        {"Otro\\Recursos\\Local", 0, 0},
        {"", 0, 0},
    };
    for (const auto &c : casos) {
        EXPECT_EQ(DelJugador(c.relativa, 0), c.carpeta) << c.relativa;
        EXPECT_EQ(DelJugador(c.relativa, 1), c.contenido) << c.relativa;
    }
    EXPECT_EQ(EnCarpeta("C:\\Juego\\x", "c:\\juego"), 1);
    EXPECT_EQ(EnCarpeta("C:\\Juego", "C:\\Juego"), 1);
    EXPECT_EQ(EnCarpeta("C:\\Juego2", "C:\\Juego"), 0);
    EXPECT_EQ(EnCarpeta("C:\\Jue", "C:\\Juego"), 0);
}
