// The manifest check: signature, lines, tables, and the path rule.
#include "comun.h"
#include "firma.h"

static const std::string D1 = std::string(64, 'a');
static const std::string D2 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

struct Manifiesto : ::testing::Test {
    MotorConectado motor{"http://127.0.0.1:9/"};
    std::vector<char> texto;

    // Checks a text as the retrieval hands it over, with fresh tables each time.
    int Comprobar(const std::string &t)
    {
        Liberar();
        EXPECT_EQ(Conectar(), 0);
        motor.a.version = 0;
        motor.a.error[0] = 0;
        lineas.clear();
        texto.assign(t.begin(), t.end());
        texto.push_back(0);
        return ComprobarManifiesto(texto.data(), (DWORD)t.size());
    }
};

TEST_F(Manifiesto, Rejections)
{
    const std::string cab = "BRMM 1\nversion 3\n";
    const std::string bien = "a.txt|5|" + D1 + "\n";
    std::string nulo = Firmado(cab + bien);
    nulo[3] = 0;
    std::string otraFirma = Firmado(cab + bien);
    otraFirma[otraFirma.size() - 2] = otraFirma[otraFirma.size() - 2] == '0' ? '1' : '0';
    struct {
        std::string texto;
        int codigo;
        std::string error;
    } casos[] = {
        {nulo, 3, "manifiesto con bytes nulos"},
        {cab + bien, 3, "manifiesto sin firma"},
        {cab + bien + "firma " + std::string(127, 'a') + "\n", 3, "manifiesto sin firma"},
        {Firmado(cab + bien) + "firma " + std::string(127, 'a') + "\n", 3, "manifiesto sin firma"},
        {cab + bien + "firma " + std::string(128, 'A') + "\n", 3, "manifiesto sin firma"},
        {"firma " + FirmaHex("") + "\n", 3, "manifiesto sin firma"},  // never the first line
        {otraFirma, 3, "firma del manifiesto invalida"},
        {cab + bien + "firma " + FirmaHex(cab) + "\n", 3, "firma del manifiesto invalida"},
        {Firmado("BRM 1\nversion 3\n" + bien), 3, "no es un manifiesto"},
        {Firmado("\nBRMM 1\nversion 3\n" + bien), 3, "no es un manifiesto"},
        {Firmado("BRMM 2\nversion 3\n" + bien), 3, "formato de manifiesto nuevo (2): hay que reinstalar"},
        {Firmado("BRMM 1 \nversion 3\n" + bien), 3, "formato de manifiesto nuevo (1 ): hay que reinstalar"},
        {Firmado(cab + "version x\n" + bien), 3, "version invalida"},
        {Firmado(cab + "version \n" + bien), 3, "version invalida"},
        {Firmado(cab + "a.txt|5\n"), 3, "linea invalida: a.txt|5"},
        {Firmado(cab + "..\\a.txt|5|" + D1 + "\n"), 3, "entrada invalida: ..\\a.txt"},
        {Firmado(cab + "Recursos\\Local\\Config|5|" + D1 + "\n"), 3, "entrada invalida: Recursos\\Local\\Config"},
        {Firmado(cab + "a.txt|x5|" + D1 + "\n"), 3, "entrada invalida: a.txt"},
        {Firmado(cab + "a.txt||" + D1 + "\n"), 3, "entrada invalida: a.txt"},
        {Firmado(cab + "a.txt|5|" + std::string(63, 'a') + "\n"), 3, "entrada invalida: a.txt"},
        {Firmado(cab + "a.txt|5|" + D1 + "a\n"), 3, "entrada invalida: a.txt"},
        {Firmado(cab + "a.txt|5|" + D1 + "|\n"), 3, "entrada invalida: a.txt"},
        {Firmado(cab + "a.txt|5|" + std::string(63, 'a') + "A\n"), 3, "entrada invalida: a.txt"},
        {Firmado("BRMM 1\n" + bien), 3, "manifiesto incompleto"},
        {Firmado(cab), 3, "manifiesto incompleto"},
        {Firmado("BRMM 1\nversion 0\n" + bien), 3, "manifiesto incompleto"},
        {Firmado("BRMM 1\nversion 4294967296\n" + bien), 3, "manifiesto incompleto"},
    };
    for (const auto &c : casos) {
        SCOPED_TRACE(c.texto.substr(0, 60));
        EXPECT_EQ(Comprobar(c.texto), c.codigo);
        EXPECT_EQ(motor.a.error, c.error);
        ASSERT_EQ(lineas.size(), 1u);
        EXPECT_EQ(lineas[0], "ERROR (" + std::to_string(c.codigo) + "): " + c.error);
    }
}

TEST_F(Manifiesto, ParsesEveryKindOfLine)
{
    std::string t = "BRMM 1\n"
                    "version 2\n"
                    "# a comment without a bar\n"
                    "\n"
                    "Recursos\\BRM.exe|1234|" + D1 + "\n"
                    "oculto Recursos\\datos\n"
                    "oculto Recursos\\Local\\Config\n"
                    "borrar ..\\x\n"
                    "borrar INIT\n"
                    "Extras\\doce.txt|12abc|" + D2 + "\n"
                    "version 5\n"
                    "Recursos\\BRM.exe|1234|" + D1 + "\n";
    ASSERT_EQ(Comprobar(Firmado(t) + "anything after the signature line\n"), 0) << motor.a.error;
    EXPECT_EQ(motor.a.version, 5u);  // the last version line counts
    ASSERT_EQ(nEnt, 3);
    EXPECT_STREQ(ent[0].ruta, "Recursos\\BRM.exe");
    EXPECT_EQ(ent[0].tam, 1234u);
    EXPECT_EQ(ent[0].sha, D1);
    EXPECT_EQ(ent[0].pendiente, 0);
    EXPECT_STREQ(ent[1].ruta, "Extras\\doce.txt");
    EXPECT_EQ(ent[1].tam, 12u);
    EXPECT_EQ(ent[1].sha, D2);
    EXPECT_STREQ(ent[2].ruta, "Recursos\\BRM.exe");  // duplicates are kept
    ASSERT_EQ(nOcultos, 1);
    EXPECT_STREQ(ocultos[0], "Recursos\\datos");
    ASSERT_EQ(nBorrar, 1);
    EXPECT_STREQ(borrar[0], "INIT");
    EXPECT_TRUE(lineas.empty());
}

TEST_F(Manifiesto, SignatureLines)
{
    const std::string cuerpo = "BRMM 1\r\nversion 4294967296\r\nversion 3\r\na.txt|5|" + D1 + "\r\n";
    // Carriage returns are signed text, and each line is read without its own.
    ASSERT_EQ(Comprobar(Firmado(cuerpo)), 0) << motor.a.error;
    EXPECT_EQ(motor.a.version, 3u);
    ASSERT_EQ(nEnt, 1);
    EXPECT_STREQ(ent[0].ruta, "a.txt");
    EXPECT_EQ(ent[0].sha, D1);

    // Two "firma " lines: the last one signs, the first is signed text that the parser skips.
    std::string primera = "firma " + FirmaHex("otra cosa") + "\n";
    EXPECT_EQ(Comprobar(Firmado(cuerpo + primera)), 0) << motor.a.error;
    // The signature line may end without a line feed, and the digits may be followed by more.
    std::string sinFin = Firmado(cuerpo);
    sinFin.pop_back();
    EXPECT_EQ(Comprobar(sinFin), 0);
    EXPECT_EQ(Comprobar(sinFin + " comentario\n"), 0);
}

TEST_F(Manifiesto, EveryByteOfTheSignedTextIsCovered)
{
    const std::string cuerpo = "BRMM 1\r\nversion 3\nRecursos\\a.txt|5|" + D1 + "\r\n";
    const std::string bien = Firmado(cuerpo);
    for (size_t i = 0; i < cuerpo.size(); i++) {
        std::string t = bien;
        t[i] = t[i] == 'x' ? 'y' : 'x';
        EXPECT_EQ(Comprobar(t), 3) << "byte " << i;
        // Without the line feed before it, the signature line is no line of its own.
        EXPECT_STREQ(motor.a.error, i + 1 == cuerpo.size() ? "manifiesto sin firma" : "firma del manifiesto invalida")
            << "byte " << i;
    }
}

TEST_F(Manifiesto, TablesAreBoundedByTheLineCount)
{
    std::string t = "BRMM 1\nversion 1\n";
    for (int i = 0; i < 3000; i++)
        t += "f" + std::to_string(i) + "|" + std::to_string(i) + "|" + D2 + "\noculto f" + std::to_string(i) +
             "\nborrar g" + std::to_string(i) + "\n";
    ASSERT_EQ(Comprobar(Firmado(t)), 0);
    EXPECT_EQ(nEnt, 3000);
    EXPECT_EQ(nOcultos, 3000);
    EXPECT_EQ(nBorrar, 3000);
    EXPECT_STREQ(ent[2999].ruta, "f2999");
    EXPECT_EQ(ent[2999].tam, 2999u);
}

TEST(RutaValida, Rules)
{
    const std::string l180 = "Recursos\\" + std::string(171, 'n');
    struct {
        std::string ruta;
        int valida;
    } casos[] = {
        {"Recursos\\BRM.exe", 1},
        {"Brumaria.exe", 1},
        {"Recursos\\Mapas (v2)\\x-y_z.dat", 1},
        {"Recursos\\Localidades\\x", 1},
        {"Recursos\\Locales", 1},
        {"Recursos\\AvanzadoX", 1},
        {"Recursos\\Local", 0},
        {"Recursos\\Local\\x", 0},
        {"recursos\\LOCAL\\x", 0},
        {"Recursos\\Avanzado", 0},
        {"Recursos\\avanzado\\ServidorDescargas.txt", 0},
        {"Recursos", 1},
        {"Recurso", 1},
        {"", 0},
        {"\\Recursos", 0},
        {"..\\x", 0},
        {"a..b", 0},
        {"Recursos/BRM.exe", 0},
        {"C:\\x", 0},
        {"a|b", 0},
        {"a\tb", 0},
        {"caf\xe9.txt", 0},
        {"a~1", 0},
        {l180, 1},
        {l180 + "n", 0},
        // Spellings that Windows resolves to another file than the one they name.
        {"Recursos\\\\Local\\x", 0},
        {"Recursos\\.\\Local\\x", 0},
        {"Recursos\\Local.\\x", 0},
        {"Recursos\\Local \\x", 0},
        {"Recursos\\", 0},
        {"Recursos\\a.", 0},
        {"Recursos\\a ", 0},
        {".", 0},
        {"Recursos\\.x", 1},
        {"Recursos\\x.y", 1},
        // Device names, alone or with an extension, in any letter case.
        {"CON", 0},
        {"Recursos\\nul", 0},
        {"Recursos\\Aux.txt", 0},
        {"Recursos\\prn.tar.gz", 0},
        {"Recursos\\NUL .txt", 0},
        {"Recursos\\com1", 0},
        {"LPT9.log", 0},
        {"com0", 1},
        {"COM10", 1},
        {"CONSOLA.txt", 1},
        {"Recursos\\nulo", 1},
        {"Recursos\\CON\\x", 0},
    };
    for (const auto &c : casos)
        EXPECT_EQ(RutaValida(c.ruta.c_str()), c.valida) << c.ruta;
}
