// Makes the Windows system it runs on trust a CA: its certificate (a DER file) goes into the
// CurrentUser "Root" store, part of the root collection WinHTTP checks server certificates
// against. The tests and the demo run it in their own Wine prefix; nothing reaches the machine's
// own store.
//   confiar_ca CERTIFICADO.der
// Not LocalMachine "Root": Wine 10's crypt32 treats that registry key as its copy of the Unix
// system's roots, and every process that opens it first removes whatever the Unix store does not
// hold. The CurrentUser key is left alone, and the 32-bit registry view does not redirect it, so
// a 32-bit and a 64-bit process see the same certificate.
// Earlier certificates of the same subject are removed first from both stores: each run makes a
// new CA under the same name, and only the one whose key issued today's servers is kept.
// Exit code 0 when the certificate is in the store, 1 otherwise.
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>

// A CA certificate is a few hundred bytes; anything larger is not one.
#define LARGO_MAXIMO 65536

static DWORD LeerDer(const char *ruta, BYTE *der)
{
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    DWORD leidos = 0;
    if (!ReadFile(f, der, LARGO_MAXIMO, &leidos, NULL))
        leidos = 0;
    CloseHandle(f);
    return leidos;
}

static void BorrarMismoNombre(HCERTSTORE raiz, PCCERT_CONTEXT nuevo)
{
    PCCERT_CONTEXT viejo;
    // Deleting frees the context found, so every search starts again from the top.
    while ((viejo = CertFindCertificateInStore(raiz, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                               &nuevo->pCertInfo->Subject, NULL)) != NULL)
        if (!CertDeleteCertificateFromStore(viejo))
            return;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "uso: confiar_ca CERTIFICADO.der\n");
        return 1;
    }
    static BYTE der[LARGO_MAXIMO];
    DWORD largo = LeerDer(argv[1], der);
    PCCERT_CONTEXT nuevo = largo < LARGO_MAXIMO ? CertCreateCertificateContext(X509_ASN_ENCODING, der, largo) : NULL;
    if (!nuevo) {
        fprintf(stderr, "confiar_ca: %s no es un certificado DER\n", argv[1]);
        return 1;
    }
    // The registry stores themselves: Wine's collection of the system stores
    // (CERT_STORE_PROV_SYSTEM_W) reports deletions done but never writes them. Wine 8 keeps the
    // CAs that earlier runs put into LocalMachine "Root"; they go too.
    HCERTSTORE maquina =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (maquina) {
        BorrarMismoNombre(maquina, nuevo);
        CertCloseStore(maquina, 0);
    }
    HCERTSTORE raiz =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!raiz) {
        fprintf(stderr, "confiar_ca: no se pudo abrir el almacen Root (error %lu)\n", GetLastError());
        CertFreeCertificateContext(nuevo);
        return 1;
    }
    BorrarMismoNombre(raiz, nuevo);
    int codigo = 0;
    if (!CertAddCertificateContextToStore(raiz, nuevo, CERT_STORE_ADD_REPLACE_EXISTING, NULL)) {
        fprintf(stderr, "confiar_ca: no se pudo agregar %s (error %lu)\n", argv[1], GetLastError());
        codigo = 1;
    }
    CertCloseStore(raiz, 0);
    CertFreeCertificateContext(nuevo);
    return codigo;
}
