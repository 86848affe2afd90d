// Change detection: which files are pending, which get hashed, and the hash cache file.
#include "comun.h"
#include "firma.h"

static ULONGLONG Fecha(const std::string &ruta)
{
    ULONGLONG tam, fecha = 0;
    TamFecha(ruta.c_str(), &tam, &fecha);
    return fecha;
}

static void PonerFecha(const std::string &ruta, ULONGLONG fecha)
{
    HANDLE f = CreateFileA(ruta.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME ft = {(DWORD)fecha, (DWORD)(fecha >> 32)};
    SetFileTime(f, NULL, NULL, &ft);
    CloseHandle(f);
}

struct Cambios : ::testing::Test {
    MotorConectado motor{"http://127.0.0.1:9/"};
    std::string A = "contenido de a", B = "contenido de b!";

    std::string operator/(const std::string &r) const { return motor.carpeta / r; }
    // Loads the manifest, reads the cache and decides, as a run does.
    int Decidir(const std::string &entradas)
    {
        EXPECT_EQ(CargarManifiesto(Manifiesto(1, entradas)), 0) << motor.a.error;
        lineas.clear();
        eventos.clear();
        LeerRecordados();
        return DecidirCambios();
    }
    std::string LineaCache(const std::string &ruta, const std::string &contenido, const std::string &sha)
    {
        ULONGLONG f = Fecha(*this / ruta);
        return ruta + "|" + std::to_string(contenido.size()) + "|" + std::to_string(f >> 32) + "|" +
               std::to_string(f & 0xFFFFFFFF) + "|" + sha;
    }
    void Cache(const std::string &texto) { EscribirArchivo(*this / RUTA_HASHES, texto); }
};

TEST_F(Cambios, FirstInstallIsAllPendingWithoutHashing)
{
    EXPECT_EQ(Decidir(LineaEntrada("Recursos\\a.txt", A) + LineaEntrada("b.txt", B)), 2);
    EXPECT_EQ(ent[0].pendiente, 1);
    EXPECT_EQ(ent[1].pendiente, 1);
    EXPECT_TRUE(eventos.empty());
    EXPECT_EQ(lineas, std::vector<std::string>{"  2 archivos para actualizar"});
}

TEST_F(Cambios, WithoutCacheEveryFileOfTheRightSizeIsHashed)
{
    EscribirArchivo(*this / "a.txt", A);                       // the manifest's content
    EscribirArchivo(*this / "b.txt", std::string(B.size(), 'x'));  // right size, other content
    EscribirArchivo(*this / "d.txt", "corto");                 // other size: not hashed
    CrearCarpeta(*this / "e.txt");                             // a folder where a file belongs
    std::string m = LineaEntrada("a.txt", A) + LineaEntrada("b.txt", B) + LineaEntrada("c.txt", "falta") +
                    LineaEntrada("d.txt", "otro tamano") + LineaEntrada("e.txt", "x");
    EXPECT_EQ(Decidir(m), 4);
    EXPECT_EQ(ent[0].pendiente, 0);
    for (int i = 1; i < 5; i++)
        EXPECT_EQ(ent[i].pendiente, 1) << i;
    ULONGLONG total = A.size() + B.size() + 5 + 11 + 1;
    ASSERT_EQ(eventos.size(), 2u);
    EXPECT_EQ(eventos[0].texto, L"Verificando archivos");
    EXPECT_EQ(eventos[0].hecho, A.size());
    EXPECT_EQ(eventos[1].hecho, A.size() + B.size());  // ends below the total
    EXPECT_EQ(eventos[1].total, total);
}

TEST_F(Cambios, CacheLinesDecideWithoutHashing)
{
    EscribirArchivo(*this / "Recursos\\a.txt", A);
    const std::string bueno = ShaHex(A), otro = ShaHex("otro");
    std::string mayusculas = bueno;
    for (char &c : mayusculas)
        c = (char)toupper(c);
    struct {
        std::string cache;
        int pendiente;
    } casos[] = {
        {LineaCache("Recursos\\a.txt", A, bueno) + "\n", 0},
        {LineaCache("Recursos\\a.txt", A, otro) + "\n", 1},       // the cache says it differs
        {LineaCache("RECURSOS\\A.TXT", A, bueno) + "\n", 0},       // letter case of the path
        {LineaCache("Recursos\\a.txt", A, mayusculas) + "\n", 1},  // never equals a manifest digest
        {LineaCache("Recursos\\a.txt", A, bueno) + "\r\n", 0},
        {LineaCache("Recursos\\a.txt", A, bueno) + "|y mas\n", 0},  // first 64 characters
        {LineaCache("Recursos\\a.txt", A, bueno), 0},              // no line feed at the end
        {LineaCache("Recursos\\a.txt", A, otro) + "\n" + LineaCache("Recursos\\a.txt", A, bueno) + "\n", 1},
        {"basura\n" + LineaCache("Recursos\\a.txt", A, bueno) + "\n|||\n", 0},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.cache);
        Cache(c.cache);
        Decidir(LineaEntrada("Recursos\\a.txt", A));
        EXPECT_EQ(ent[0].pendiente, c.pendiente);
        EXPECT_TRUE(eventos.empty());
    }
}

TEST_F(Cambios, ChangedTimeIsHashedThenRecordedAfresh)
{
    std::string a = *this / "a.txt";
    EscribirArchivo(a, A);
    PonerFecha(a, 130000000000000000ull);
    Cache(LineaCache("a.txt", A, ShaHex(A)) + "\n");
    PonerFecha(a, 131000000000000000ull);
    EXPECT_EQ(Decidir(LineaEntrada("a.txt", A)), 0);
    EXPECT_EQ(eventos.size(), 1u);  // hashed
    GuardarRecordados(nEnt);
    EXPECT_EQ(LeerArchivo(*this / RUTA_HASHES), LineaCache("a.txt", A, ShaHex(A)) + "\n");
    EXPECT_EQ(Decidir(LineaEntrada("a.txt", A)), 0);
    EXPECT_TRUE(eventos.empty());  // judged from the cache now
}

TEST_F(Cambios, CacheFileSizeLimit)
{
    EscribirArchivo(*this / "a.txt", A);
    std::string linea = LineaCache("a.txt", A, ShaHex(A)) + "\n";
    std::string relleno(4194304 - linea.size(), '\n');
    Cache(linea + relleno);
    Decidir(LineaEntrada("a.txt", A));
    EXPECT_TRUE(eventos.empty());
    Cache(linea + relleno + "\n");
    Decidir(LineaEntrada("a.txt", A));
    EXPECT_EQ(eventos.size(), 1u);  // the whole cache was ignored
}

TEST_F(Cambios, WriterRecordsOnlyFilesThatHoldTheManifestsContent)
{
    // State of a replacement that stopped at entry 2: entries 0 and 1 are in place, the
    // pending entry 2 still holds an older content of the manifest's size, 3 was never pending.
    const std::string viejo(B.size(), 'v');
    EscribirArchivo(*this / "a.txt", std::string(A.size(), 'z'));
    EscribirArchivo(*this / "b.txt", viejo);
    EscribirArchivo(*this / "c.txt", "tercero");
    EscribirArchivo(*this / "d.txt", "cuarto");
    std::string m = LineaEntrada("a.txt", A) + LineaEntrada("b.txt", B) + LineaEntrada("c.txt", "TERCERO") + LineaEntrada("d.txt", "cuarto");
    EXPECT_EQ(Decidir(m), 3);
    EscribirArchivo(*this / "a.txt", A);  // put in place
    EscribirArchivo(*this / "b.txt", B);
    GuardarRecordados(2);
    EXPECT_EQ(LeerArchivo(*this / RUTA_HASHES), LineaCache("a.txt", A, ShaHex(A)) + "\n" +
                                                    LineaCache("b.txt", B, ShaHex(B)) + "\n" +
                                                    LineaCache("d.txt", "cuarto", ShaHex("cuarto")) + "\n");
    // Every file is in place after a complete run; a file whose size differs gets no line.
    EscribirArchivo(*this / "c.txt", "TERCERO");
    EscribirArchivo(*this / "d.txt", "otro");
    GuardarRecordados(nEnt);
    EXPECT_EQ(LeerArchivo(*this / RUTA_HASHES), LineaCache("a.txt", A, ShaHex(A)) + "\n" +
                                                    LineaCache("b.txt", B, ShaHex(B)) + "\n" +
                                                    LineaCache("c.txt", "TERCERO", ShaHex("TERCERO")) + "\n");
}

TEST_F(Cambios, FileOver4GiBIsJudgedFromTheCache)
{
    std::string g = *this / "grande.pak";
    HANDLE f = CreateFileA(g.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER tam;
    tam.QuadPart = (5ll << 30) + 3;
    bool sparse = SetFilePointerEx(f, tam, NULL, FILE_BEGIN) && SetEndOfFile(f);
    CloseHandle(f);
    if (!sparse)
        GTEST_SKIP() << "no room for a sparse 5 GiB file";
    const std::string sha = ShaHex("no importa");
    const std::string m = "grande.pak|" + std::to_string(tam.QuadPart) + "|" + sha + "\n";
    EXPECT_EQ(CargarManifiesto(Manifiesto(1, m)), 0);
    ent[0].pendiente = 0;
    GuardarRecordados(nEnt);
    std::string cache = LeerArchivo(*this / RUTA_HASHES);
    EXPECT_EQ(cache.substr(0, cache.find('|', 11)), "grande.pak|5368709123");
    EXPECT_EQ(Decidir(m), 0);  // never hashed: that would take minutes
    EXPECT_TRUE(eventos.empty());
}

TEST_F(Cambios, CacheOfManyBlocksIsTheSameFileLineByLine)
{
    // Long paths make lines of about 240 bytes: 900 of them span several write blocks, with
    // lines across each block's end; the pending entries not yet placed leave gaps in between.
    const std::string largo(130, 'x');
    std::string m, esperado;
    std::vector<std::string> contenidos;
    for (int i = 0; i < 900; i++) {
        std::string ruta = "Recursos\\" + largo + std::to_string(1000 + i) + ".dat";
        contenidos.push_back("contenido " + std::to_string(i * 7919));
        EscribirArchivo(*this / ruta, contenidos.back());
        m += LineaEntrada(ruta, contenidos.back());
    }
    EXPECT_EQ(Decidir(m), 0);
    for (int i = 0; i < nEnt; i++)
        ent[i].pendiente = i % 7 == 3;
    GuardarRecordados(600);
    for (int i = 0; i < nEnt; i++)
        if (!ent[i].pendiente || i < 600)
            esperado += LineaCache(ent[i].ruta, contenidos[i], ShaHex(contenidos[i])) + "\n";
    std::string escrito = LeerArchivo(*this / RUTA_HASHES);
    EXPECT_GT(escrito.size(), 200000u);
    EXPECT_EQ(escrito, esperado);
}
