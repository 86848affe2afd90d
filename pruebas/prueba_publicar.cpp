// The publisher's tool as a program: key pairs, releases the engine accepts, the refusals that
// keep a bad release from being written, the release check, and agreement with OpenSSL.
#include "clave_prueba.h"
#include "comun.h"
#include "firma.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

typedef std::map<std::string, std::string> Archivos;

static const std::string publicar = Herramienta("..\\herramientas\\publicar\\publicar.exe");

static std::string Citar(const std::string &ruta)
{
    return "\"" + ruta + "\"";
}

static bool Contiene(const std::string &texto, const std::string &parte)
{
    return texto.find(parte) != std::string::npos;
}

static std::string Hex(const unsigned char *bytes, size_t n)
{
    std::vector<char> hex(2 * n + 1);
    AHex(bytes, (int)n, hex.data());
    return hex.data();
}

static std::string Bytes(const std::string &hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
    return bytes;
}

static void EscribirJuego(const std::string &carpeta, const Archivos &archivos)
{
    CrearCarpeta(carpeta);
    for (const auto &[ruta, contenido] : archivos)
        EscribirArchivo(carpeta + "\\" + ruta, contenido);
}

// Names of the files directly in a folder.
static std::set<std::string> Nombres(const std::string &carpeta)
{
    std::set<std::string> nombres;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((carpeta + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
        return nombres;
    do {
        if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            nombres.insert(d.cFileName);
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return nombres;
}

static const std::string grande = [] {
    // Over two hashing blocks, and not a repeated byte, so a lost or repeated block shows.
    std::string g(2621440 + 77, 0);
    for (size_t i = 0; i < g.size(); i++)
        g[i] = (char)(i * 7 + i / 4093);
    return g;
}();

// Linux programs run from Wine: OpenSSL, and the shell for what Windows cannot do or does slowly.

// Runs a shell command in a folder and returns its exit status, with its output in `salida`.
// Wine does not wait on a Linux program's handle, so the command leaves its status in a file
// of a folder of its own, renamed into place only when complete.
static int Shell(const std::string &carpeta, const std::string &orden, std::string *salida = nullptr)
{
    CarpetaTemporal control;
    std::string unix_ = RutaUnix(carpeta), controlUnix = RutaUnix(control.ruta);
    EXPECT_FALSE(unix_.empty() || controlUnix.empty());
    HANDLE p = Lanzar("/bin/sh", "-c \"cd '" + unix_ + "' && (" + orden + ") >'" + controlUnix +
                                     "/salida' 2>&1; echo $? >'" + controlUnix + "/rc.tmp' && mv '" + controlUnix +
                                     "/rc.tmp' '" + controlUnix + "/rc'\"");
    if (p)
        CloseHandle(p);
    std::string rc = control / "rc";
    for (int i = 0; i < 1500 && !Existe(rc.c_str()); i++)
        Sleep(20);
    if (salida)
        *salida = LeerArchivo(control / "salida");
    std::string codigo = LeerArchivo(rc);
    return codigo.empty() ? -1 : atoi(codigo.c_str());
}

struct Publicar : ::testing::Test {
    CarpetaTemporal t;
    std::string juego = t / "juego", salida = t / "salida";
    std::string privada = t / "prueba.priv", publica = t / "prueba.pub";

    void SetUp() override
    {
        static const unsigned char clave[96] = {CLAVE_PRIVADA_PRUEBA_BYTES};
        EscribirArchivo(privada, Hex(clave, 96) + "\n");
        EscribirArchivo(publica, Hex(clave, 64) + "\n");
    }
    Resultado Release(const std::string &extra = "", const std::string &clave = "")
    {
        return Ejecutar(publicar, "release " + Citar(juego) + " " + Citar(salida) + " --clave " +
                                      Citar(clave.empty() ? privada : clave) + " " + extra);
    }
    Resultado Verificar(const std::string &clave = "")
    {
        return Ejecutar(publicar, "verificar " + Citar(salida) + " --clave " + Citar(clave.empty() ? publica : clave));
    }
    std::string Manifiesto() { return LeerArchivo(salida + "\\manifiesto.txt"); }
    std::string Cuerpo(const std::string &contenido) { return salida + "\\a\\" + ShaHex(contenido) + ".bin"; }
};

// ---- keys ----

TEST_F(Publicar, NewKeyPairFilesAndTag)
{
    std::string k = t / "editor";
    Resultado r = Ejecutar(publicar, "clave " + Citar(k));
    ASSERT_EQ(r.codigo, 0u) << r.errores;
    std::string pub = LeerArchivo(k + ".pub"), priv = LeerArchivo(k + ".priv");
    ASSERT_EQ(pub.size(), 129u);
    ASSERT_EQ(priv.size(), 193u);
    EXPECT_TRUE(EsHex(pub.c_str(), 128) && pub[128] == '\n') << pub;
    EXPECT_TRUE(EsHex(priv.c_str(), 192) && priv[192] == '\n') << priv;
    EXPECT_EQ(priv.substr(0, 128), pub.substr(0, 128));
    EXPECT_TRUE(Contiene(r.salida, "BRMCLAVE-" + ShaHex(Bytes(pub.substr(0, 128))).substr(0, 16) + "\n")) << r.salida;

    // d belongs to X and Y: a release signed with the private file passes with the public one.
    EscribirJuego(juego, {{"Brumaria.exe", "lanzador"}});
    ASSERT_EQ(Release("--version 1", k + ".priv").codigo, 0u);
    EXPECT_EQ(Verificar(k + ".pub").codigo, 0u);

    Resultado otra = Ejecutar(publicar, "clave " + Citar(t / "otra"));
    ASSERT_EQ(otra.codigo, 0u);
    EXPECT_NE(LeerArchivo(t / "otra.pub"), pub);
}

TEST_F(Publicar, NewKeyNeverOverwrites)
{
    for (const char *queda : {"pub", "priv"}) {
        CarpetaTemporal c;
        std::string k = c / "editor", archivo = k + "." + queda;
        EscribirArchivo(archivo, "no tocar");
        Resultado r = Ejecutar(publicar, "clave " + Citar(k));
        EXPECT_EQ(r.codigo, 1u) << queda;
        EXPECT_TRUE(Contiene(r.errores, "ya existe")) << r.errores;
        EXPECT_EQ(LeerArchivo(archivo), "no tocar");
        EXPECT_EQ(Nombres(c.ruta).size(), 1u) << queda << ": the other half was written";
    }
}

// ---- release ----

TEST_F(Publicar, ReleaseTheEngineAccepts)
{
    const Archivos archivos = {
        {"Brumaria.exe", "lanzador"},
        {"leeme.txt", "leeme"},
        {"Recursos\\BRM.exe", "juego"},
        {"Recursos\\Mapas\\norte.map", grande},
        {"Recursos\\Mapas\\sur.map", grande},
        {"Recursos\\vacio.txt", ""},
        {"Recursos_viejos\\z.txt", "z"},
    };
    EscribirJuego(juego, archivos);
    CrearCarpeta(juego + "\\Recursos\\Vacia");
    Resultado r = Release("--version 7 --oculto leeme.txt --borrar INIT --borrar Recursos\\viejo.dat");
    ASSERT_EQ(r.codigo, 0u) << r.errores;

    // Sorted with ASCII letters folded: "leeme.txt" between "Brumaria.exe" and "Recursos".
    const char *orden[] = {"Brumaria.exe", "leeme.txt", "Recursos\\BRM.exe", "Recursos\\Mapas\\norte.map",
                           "Recursos\\Mapas\\sur.map", "Recursos\\vacio.txt", "Recursos_viejos\\z.txt"};
    std::string esperado = "BRMM 1\nversion 7\noculto leeme.txt\nborrar INIT\nborrar Recursos\\viejo.dat\n";
    for (const char *ruta : orden)
        esperado += std::string(ruta) + "|" + std::to_string(archivos.at(ruta).size()) + "|" +
                    ShaHex(archivos.at(ruta)) + "\n";
    std::string m = Manifiesto();
    ASSERT_EQ(m.size(), esperado.size() + 135);
    EXPECT_EQ(m.substr(0, esperado.size()), esperado);
    EXPECT_EQ(m.substr(esperado.size(), 6), "firma ");
    EXPECT_TRUE(EsHex(m.c_str() + esperado.size() + 6, 128));
    EXPECT_EQ(m.back(), '\n');

    MotorConectado motor("http://127.0.0.1:9/");
    ASSERT_EQ(CargarManifiesto(m), 0) << motor.a.error;
    EXPECT_EQ(motor.a.version, 7u);
    ASSERT_EQ(nEnt, 7);
    for (int i = 0; i < nEnt; i++) {
        EXPECT_STREQ(ent[i].ruta, orden[i]);
        EXPECT_EQ(ent[i].tam, archivos.at(orden[i]).size());
        EXPECT_EQ(ent[i].sha, ShaHex(archivos.at(orden[i])));
    }
    ASSERT_EQ(nOcultos, 1);
    EXPECT_STREQ(ocultos[0], "leeme.txt");
    ASSERT_EQ(nBorrar, 2);
    EXPECT_STREQ(borrar[1], "Recursos\\viejo.dat");

    // One body per content, nothing else (no temporary file left behind).
    std::set<std::string> cuerpos;
    for (const auto &[ruta, contenido] : archivos) {
        cuerpos.insert(ShaHex(contenido) + ".bin");
        EXPECT_EQ(LeerArchivo(Cuerpo(contenido)), contenido) << ruta;
    }
    EXPECT_EQ(Nombres(salida + "\\a"), cuerpos);
    EXPECT_EQ(Nombres(salida), std::set<std::string>{"manifiesto.txt"});
}

TEST_F(Publicar, RunAgainKeepsSoundBodiesAndMendsBadOnes)
{
    const Archivos archivos = {{"Brumaria.exe", "lanzador"}, {"Recursos\\a.map", grande}, {"Recursos\\b.txt", "bbb"}};
    EscribirJuego(juego, archivos);
    ASSERT_EQ(Release("--version 1").codigo, 0u);
    Resultado r = Release("--version 2");
    ASSERT_EQ(r.codigo, 0u) << r.errores;
    EXPECT_TRUE(Contiene(r.salida, "3 cuerpos (3 ya estaban)")) << r.salida;

    // A body of the right size with other bytes, a short one and a missing one are rewritten.
    std::string malo = grande;
    malo[1500000] ^= 1;
    EscribirArchivo(Cuerpo(grande), malo);
    EscribirArchivo(Cuerpo("bbb"), "bb");
    DeleteFileA(Cuerpo("lanzador").c_str());
    r = Release("--version 3");
    ASSERT_EQ(r.codigo, 0u) << r.errores;
    EXPECT_TRUE(Contiene(r.salida, "(0 ya estaban)")) << r.salida;
    for (const auto &[ruta, contenido] : archivos)
        EXPECT_EQ(LeerArchivo(Cuerpo(contenido)), contenido) << ruta;
    EXPECT_EQ(Verificar().codigo, 0u);
    MotorConectado motor("http://127.0.0.1:9/");
    EXPECT_EQ(CargarManifiesto(Manifiesto()), 0) << motor.a.error;
    EXPECT_EQ(motor.a.version, 3u);
}

TEST_F(Publicar, RefusesWithNothingWritten)
{
    // A private key file whose d belongs to another point.
    ASSERT_EQ(Ejecutar(publicar, "clave " + Citar(t / "otra")).codigo, 0u);
    const std::string mezclada = t / "mezclada.priv";
    EscribirArchivo(mezclada, LeerArchivo(t / "otra.pub").substr(0, 128) + LeerArchivo(privada).substr(128));

    // Options added to a sound command line (a later --version or --clave wins), or a whole
    // command line when it begins with a quote. {J} game, {S} output, {K} private key,
    // {P} public key, {M} the mixed key.
    struct {
        Archivos extra;
        std::string argumentos, mensaje;
    } casos[] = {
        {{{"Recursos\\Local\\partida.sav", "p"}}, "", "Recursos\\Local\\partida.sav: el actualizador rechaza"},
        {{{"Recursos\\Avanzado\\ServidorDescargas.txt", "u"}}, "", "Recursos\\Avanzado\\ServidorDescargas.txt:"},
        {{{"Mapas\\\xf1" "andu.map", "n"}}, "", "andu.map: el actualizador rechaza"},
        {{{"Mapas\\a+b.map", "n"}}, "", "Mapas\\a+b.map: el actualizador rechaza"},
        {{{"version 2\\x.txt", "v"}}, "", "version 2\\x.txt: el manifiesto leeria"},
        {{}, "--version 0", "--version 0:"},
        {{}, "--version abc", "--version abc:"},
        {{}, "--version 12x", "--version 12x:"},
        {{}, "--version 4294967296", "--version 4294967296:"},
        {{}, "--borrar ..\\x", "--borrar ..\\x: el actualizador rechaza"},
        {{}, "--borrar \\Windows", "--borrar \\Windows:"},
        {{}, "--oculto Recursos\\Local\\x", "--oculto Recursos\\Local\\x:"},
        // A delete line that names a file of the release, or a folder that holds one.
        {{{"Recursos\\Mapas\\norte.map", "n"}}, "--borrar recursos\\mapas",
         "--borrar recursos\\mapas: la version trae Recursos\\Mapas\\norte.map"},
        {{}, "--borrar BRUMARIA.exe", "--borrar BRUMARIA.exe: la version trae Brumaria.exe"},
        {{}, "--clave \"{P}\"", "no es una clave privada"},
        {{}, "--clave \"{M}\"", "mezclada.priv no sirve"},
        {{}, "\"{J}\\falta\" \"{S}\" --version 1 --clave \"{K}\"", "falta no es una carpeta"},
        {{}, "\"{J}\" \"{J}\\salida\" --version 1 --clave \"{K}\"", "esta dentro de JUEGO"},
    };
    for (const auto &c : casos) {
        CarpetaTemporal d;
        std::string j = d / "juego", s = d / "salida";
        Archivos archivos = c.extra;
        archivos["Brumaria.exe"] = "lanzador";
        EscribirJuego(j, archivos);
        std::string args = c.argumentos;
        if (args.empty() || args[0] != '"')
            args = "\"{J}\" \"{S}\" --version 1 --clave \"{K}\" " + args;
        for (auto [marca, valor] : {std::pair<std::string, std::string>{"{J}", j}, {"{S}", s}, {"{K}", privada},
                                    {"{P}", publica}, {"{M}", mezclada}}) {
            for (size_t p; (p = args.find(marca)) != std::string::npos;)
                args.replace(p, marca.size(), valor);
        }
        Resultado r = Ejecutar(publicar, "release " + args);
        EXPECT_EQ(r.codigo, 1u) << args;
        EXPECT_TRUE(Contiene(r.errores, c.mensaje)) << args << "\n" << r.errores;
        EXPECT_FALSE(Existe(s.c_str()) || Existe((j + "\\salida").c_str())) << args;
    }
}

TEST_F(Publicar, RefusesAnEmptyGame)
{
    CrearCarpeta(juego + "\\Recursos\\Vacia");
    Resultado r = Release("--version 1");
    EXPECT_EQ(r.codigo, 1u);
    EXPECT_TRUE(Contiene(r.errores, "no tiene archivos")) << r.errores;
    EXPECT_FALSE(Existe(salida.c_str()));
}

TEST_F(Publicar, UsageErrors)
{
    EscribirJuego(juego, {{"Brumaria.exe", "lanzador"}});
    const std::string j = Citar(juego), s = Citar(salida), k = Citar(privada);
    const std::vector<std::string> ordenes = {"",
                                              "nada",
                                              "clave",
                                              "clave a b",
                                              "release " + j + " " + s + " --clave " + k,
                                              "release " + j + " " + s + " --version 1",
                                              "release " + j + " --version 1 --clave " + k,
                                              "release " + j + " " + s + " --version 1 --clave " + k + " --otra",
                                              "release " + j + " " + s + " --version 1 --clave " + k + " --oculto",
                                              "verificar " + s,
                                              "verificar " + s + " --llave " + k};
    for (const std::string &args : ordenes) {
        Resultado r = Ejecutar(publicar, args);
        EXPECT_EQ(r.codigo, 2u) << args;
        EXPECT_TRUE(Contiene(r.errores, "uso:")) << args;
    }
    EXPECT_FALSE(Existe(salida.c_str()));
}

// The size the engine accepts is reached exactly: 1048575 bytes pass, one more is refused.
TEST_F(Publicar, ManifestSizeLimit)
{
    // Each entry line of an empty file is its path and 68 bytes; the fixed lines take 152.
    const int linea = 180 + 68, resto = 1048575 - 152;
    const int llenas = resto / linea, ultima = resto % linea - 68;
    ASSERT_GT(ultima, 8);
    // Thousands of files: made by the shell, which Wine's CreateFile is far slower than.
    CrearCarpeta(juego + "\\d");
    ASSERT_EQ(Shell(juego, "cd d && seq -f %0178.0f 1 " + std::to_string(llenas) + " | xargs touch"), 0);
    ASSERT_EQ(Nombres(juego + "\\d").size(), (size_t)llenas);
    std::string ultimo = juego + "\\" + std::string(ultima, 'u');
    EscribirArchivo(ultimo, "");
    Resultado r = Release("--version 1");
    ASSERT_EQ(r.codigo, 0u) << r.errores;
    EXPECT_EQ(Manifiesto().size(), 1048575u);
    {
        MotorConectado motor("http://127.0.0.1:9/");
        EXPECT_EQ(CargarManifiesto(Manifiesto()), 0) << motor.a.error;
    }

    BorrarTodo(salida);
    ASSERT_TRUE(MoveFileA(ultimo.c_str(), (ultimo + "u").c_str()));
    r = Release("--version 1");
    EXPECT_EQ(r.codigo, 1u);
    EXPECT_TRUE(Contiene(r.errores, "1048576 bytes")) << r.errores;
    EXPECT_FALSE(Existe(salida.c_str()));
    Shell(juego, "rm -rf d");
}

// ---- verificar ----

TEST_F(Publicar, VerifyNamesEachProblem)
{
    const Archivos archivos = {{"Brumaria.exe", "lanzador"}, {"Recursos\\a.map", grande}, {"Recursos\\b.map", grande}};
    const std::string binLanzador = "a\\" + ShaHex("lanzador") + ".bin", binGrande = "a\\" + ShaHex(grande) + ".bin";
    ASSERT_EQ(Ejecutar(publicar, "clave " + Citar(t / "otra")).codigo, 0u);
    struct {
        const char *nombre;
        void (*danar)(Publicar *);
        std::string clave, linea;
    } casos[] = {
        {"sound", nullptr, "", "release correcta: version 5, 3 archivos"},
        {"body byte", [](Publicar *p) {
             std::string b = LeerArchivo(p->Cuerpo("lanzador"));
             b[3] ^= 0x20;
             EscribirArchivo(p->Cuerpo("lanzador"), b);
         }, "", "digest distinto " + binLanzador + " (Brumaria.exe)"},
        {"body short", [](Publicar *p) { EscribirArchivo(p->Cuerpo(grande), grande.substr(1)); }, "",
         "tamano distinto " + binGrande + " (Recursos\\a.map): 2621516 bytes, el manifiesto dice 2621517"},
        {"body missing", [](Publicar *p) { DeleteFileA(p->Cuerpo(grande).c_str()); }, "",
         "falta " + binGrande + " (Recursos\\a.map)"},
        {"manifest byte", [](Publicar *p) {
             std::string m = p->Manifiesto();
             m[m.find("version 5") + 8] = '6';
             EscribirArchivo(p->salida + "\\manifiesto.txt", m);
         }, "", "firma invalida"},
        {"signature digit", [](Publicar *p) {
             std::string m = p->Manifiesto();
             m[m.size() - 2] = m[m.size() - 2] == '0' ? '1' : '0';
             EscribirArchivo(p->salida + "\\manifiesto.txt", m);
         }, "", "firma invalida"},
        {"other key", nullptr, t / "otra.pub", "firma invalida"},
    };
    for (const auto &c : casos) {
        BorrarTodo(salida);
        EscribirJuego(juego, archivos);
        ASSERT_EQ(Release("--version 5").codigo, 0u);
        if (c.danar)
            c.danar(this);
        Resultado r = Verificar(c.clave);
        EXPECT_EQ(r.codigo, c.danar || !c.clave.empty() ? 1u : 0u) << c.nombre << "\n" << r.salida;
        EXPECT_TRUE(Contiene("\n" + r.salida, "\n" + c.linea + "\n")) << c.nombre << "\n" << r.salida;
        // A body shared by two entries is one problem, not two.
        EXPECT_EQ(std::count(r.salida.begin(), r.salida.end(), '\n'), c.danar || !c.clave.empty() ? 2 : 1)
            << c.nombre << "\n" << r.salida;
    }
}

static void Der(std::string &der, unsigned char etiqueta, const std::string &contenido)
{
    der += (char)etiqueta;
    der += (char)contenido.size();
    der += contenido;
}

// r||s as the DER SEQUENCE of two INTEGERs OpenSSL reads.
static std::string FirmaDer(const std::string &rs)
{
    std::string cuerpo;
    for (int i = 0; i < 2; i++) {
        std::string n = rs.substr(32 * i, 32);
        while (n.size() > 1 && n[0] == 0 && !(n[1] & 0x80))
            n.erase(0, 1);
        if (n[0] & 0x80)
            n.insert(0, 1, '\0');
        Der(cuerpo, 0x02, n);
    }
    std::string der;
    Der(der, 0x30, cuerpo);
    return der;
}

static std::string Pem(const std::string &xy)
{
    std::string der = Bytes("3059301306072a8648ce3d020106082a8648ce3d03010703420004") + xy;
    static const char *b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string t;
    for (size_t i = 0; i < der.size(); i += 3) {
        unsigned v = (unsigned char)der[i] << 16;
        if (i + 1 < der.size())
            v |= (unsigned char)der[i + 1] << 8;
        if (i + 2 < der.size())
            v |= (unsigned char)der[i + 2];
        t += b64[v >> 18 & 63];
        t += b64[v >> 12 & 63];
        t += i + 1 < der.size() ? b64[v >> 6 & 63] : '=';
        t += i + 2 < der.size() ? b64[v & 63] : '=';
    }
    std::string pem = "-----BEGIN PUBLIC KEY-----\n";
    for (size_t i = 0; i < t.size(); i += 64)
        pem += t.substr(i, 64) + "\n";
    return pem + "-----END PUBLIC KEY-----\n";
}

struct ConOpenSsl : Publicar {
    CarpetaTemporal o;
    // Writes the signed part of the manifest and its signature as DER for OpenSSL.
    void SepararFirma(const std::string &manifiesto)
    {
        size_t firma = manifiesto.rfind("\nfirma ") + 1;
        EscribirArchivo(o / "firmado.txt", manifiesto.substr(0, firma));
        EscribirArchivo(o / "firma.der", FirmaDer(Bytes(manifiesto.substr(firma + 6, 128))));
    }
};

TEST_F(ConOpenSsl, VerifiesAReleaseSignature)
{
    EscribirJuego(juego, {{"Brumaria.exe", "lanzador"}, {"Recursos\\a.map", grande}});
    ASSERT_EQ(Release("--version 9 --borrar INIT").codigo, 0u);
    SepararFirma(Manifiesto());
    EscribirArchivo(o / "clave.pem", Pem(Bytes(LeerArchivo(publica).substr(0, 128))));
    const std::string orden = "/usr/bin/openssl dgst -sha256 -verify clave.pem -signature firma.der firmado.txt";
    std::string dice;
    ASSERT_EQ(Shell(o.ruta, orden, &dice), 0) << dice;
    EXPECT_TRUE(Contiene(dice, "Verified OK")) << dice;

    // The same check fails on a changed text: the agreement above is not vacuous.
    std::string firmado = LeerArchivo(o / "firmado.txt");
    firmado[firmado.find("version 9") + 8] = '8';
    EscribirArchivo(o / "firmado.txt", firmado);
    EXPECT_EQ(Shell(o.ruta, orden, &dice), 1) << dice;
}

// "openssl ec -text" prints the key as "priv:" and "pub:" blocks of colon-separated hex.
static std::string HexDeBloque(const std::string &texto, const std::string &titulo)
{
    size_t p = texto.find("\n" + titulo + "\n");
    if (p == std::string::npos)
        return "";
    std::string hex;
    for (p += titulo.size() + 2; p < texto.size() && texto[p] == ' ';) {
        size_t fin = texto.find('\n', p);
        for (size_t i = p; i < fin; i++)
            if (isxdigit((unsigned char)texto[i]))
                hex += texto[i];
        p = fin + 1;
    }
    return hex;
}

TEST_F(ConOpenSsl, SignsWithAKeyMadeByOpenSsl)
{
    std::string texto;
    ASSERT_EQ(Shell(o.ruta,
                    "/usr/bin/openssl ecparam -name prime256v1 -genkey -noout -out k.pem && "
                    "/usr/bin/openssl ec -in k.pem -text -noout",
                    &texto),
              0)
        << texto;
    std::string d = HexDeBloque(texto, "priv:"), pub = HexDeBloque(texto, "pub:");
    ASSERT_LE(d.size(), 66u) << texto;
    // A leading zero byte of d is dropped, or one is added when its top bit is set.
    while (d.size() > 64 && d.compare(0, 2, "00") == 0)
        d.erase(0, 2);
    d.insert(0, 64 - d.size(), '0');
    ASSERT_EQ(pub.size(), 130u) << texto;
    ASSERT_EQ(pub.substr(0, 2), "04");
    EscribirArchivo(o / "k.priv", pub.substr(2) + d + "\n");
    EscribirArchivo(o / "k.pub", pub.substr(2) + "\n");

    EscribirJuego(juego, {{"Brumaria.exe", "lanzador"}, {"Recursos\\b.txt", "b"}});
    Resultado r = Release("--version 4", o / "k.priv");
    ASSERT_EQ(r.codigo, 0u) << r.errores;
    r = Verificar(o / "k.pub");
    EXPECT_EQ(r.codigo, 0u) << r.salida;
    EXPECT_EQ(Verificar().codigo, 1u);
    SepararFirma(Manifiesto());
    std::string dice;
    EXPECT_EQ(Shell(o.ruta, "/usr/bin/openssl dgst -sha256 -prverify k.pem -signature firma.der firmado.txt", &dice), 0)
        << dice;
}

// A Linux folder can hold names that differ only in letter case; Windows would make them one.
TEST_F(Publicar, RefusesNamesWindowsCannotTellApart)
{
    EscribirJuego(juego, {{"Recursos\\Mapa.map", "m"}});
    ASSERT_EQ(Shell(juego, "echo otro >Recursos/mapa.map"), 0);
    ASSERT_EQ(Nombres(juego + "\\Recursos").size(), 2u);
    Resultado r = Release("--version 1");
    EXPECT_EQ(r.codigo, 1u);
    EXPECT_TRUE(Contiene(r.errores, "Windows no lo distingue")) << r.errores;
    EXPECT_FALSE(Existe(salida.c_str()));
}

// The engine's new copy of X is "X.nuevo" and the host it moves aside "X.viejo", in the folder
// of X: a release with a file of either name beside X is refused, any other such name passes.
TEST_F(Publicar, RefusesNamesOfTheEnginesOwnCopies)
{
    struct {
        Archivos archivos;
        std::string mensaje;  // "" when the release is made
    } casos[] = {
        {{{"Recursos\\x.dat", "a"}, {"Recursos\\x.dat.nuevo", "b"}},
         "Recursos\\x.dat.nuevo: el actualizador da este nombre a su copia de Recursos\\x.dat"},
        {{{"Recursos\\x.dat", "a"}, {"Recursos\\X.DAT.Nuevo", "b"}}, "Recursos\\X.DAT.Nuevo: el actualizador"},
        {{{"Brumaria.EXE.viejo", "b"}}, "Brumaria.EXE.viejo: el actualizador da este nombre a su copia de Brumaria.exe"},
        {{{"Recursos\\y.nuevo", "b"}, {"Recursos\\x.dat.nuevo.txt", "c"}, {"Recursos\\x.dat", "a"},
          {"x.dat.viejo", "d"}, {"Recursos\\x.datnuevo", "e"}},
         ""},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.archivos.rbegin()->first);
        BorrarTodo(juego);
        BorrarTodo(salida);
        Archivos archivos = c.archivos;
        archivos["Brumaria.exe"] = "lanzador";
        EscribirJuego(juego, archivos);
        Resultado r = Release("--version 1");
        if (c.mensaje.empty()) {
            EXPECT_EQ(r.codigo, 0u) << r.errores;
        } else {
            EXPECT_EQ(r.codigo, 1u);
            EXPECT_TRUE(Contiene(r.errores, c.mensaje)) << r.errores;
            EXPECT_FALSE(Existe(salida.c_str()));
        }
    }
}

// A manifest that names one file twice, exactly or in another letter case (made by hand or by
// another tool, and signed): verificar names the repeated path.
TEST_F(Publicar, VerifyRefusesAPathListedTwice)
{
    const std::string A = "contenido a", B = "contenido b";
    struct {
        std::string entradas, linea;
    } casos[] = {
        {LineaEntrada("Recursos\\x.dat", A) + LineaEntrada("Recursos\\x.dat", B), "ruta repetida: Recursos\\x.dat"},
        {LineaEntrada("Recursos\\x.dat", A) + LineaEntrada("Recursos\\x.dat", A), "ruta repetida: Recursos\\x.dat"},
        {LineaEntrada("Recursos\\X.dat", A) + LineaEntrada("Recursos\\x.dat", B),
         "Recursos\\x.dat: Windows no lo distingue de Recursos\\X.dat"},
    };
    for (const auto &c : casos) {
        BorrarTodo(salida);
        EscribirArchivo(Cuerpo(A), A);
        EscribirArchivo(Cuerpo(B), B);
        EscribirArchivo(salida + "\\manifiesto.txt", ::Manifiesto(3, c.entradas));
        Resultado r = Verificar();
        EXPECT_EQ(r.codigo, 1u) << c.linea << "\n" << r.salida;
        EXPECT_TRUE(Contiene("\n" + r.salida, "\n" + c.linea + "\n")) << c.linea << "\n" << r.salida;
    }
}
