// The skinned window: start-up, painting, the mouse, and the eased progress bar.
#include "instalador.h"
#include "recursos.h"

#include <shlobj.h>
#include <strsafe.h>

HINSTANCE inst;
HWND ventana;
char destino[MAX_PATH];
int hover, apretado;

static HBITMAP fondo, barra, bInstalar[3], bSalir[3];
static HCURSOR mano;

int BotonEn(int x, int y)
{
    if (y < BOTON_Y || y > BOTON_Y + BOTON_ALTO - 1)
        return 0;
    if (x >= INSTALAR_X && x <= INSTALAR_X + BOTON_ANCHO - 1)
        return 1;
    if (x >= SALIR_X && x <= SALIR_X + BOTON_ANCHO - 1)
        return 2;
    return 0;
}

// A held button shows pressed only while the mouse is on it, and no other button lights up
// while one is held.
int Estado(int boton)
{
    if (apretado == boton && hover == boton)
        return 2;
    if (hover == boton && apretado == 0)
        return 1;
    return 0;
}

int Acercar(int actual, int meta)
{
    return actual + (meta - actual + 9) / 10;
}

static void Dibujar(HDC destinoDC, HBITMAP imagen, int x, int y, int ancho, int alto)
{
    HDC memoria = CreateCompatibleDC(destinoDC);
    HGDIOBJ antes = SelectObject(memoria, imagen);
    BitBlt(destinoDC, x, y, ancho, alto, memoria, 0, 0, SRCCOPY);
    SelectObject(memoria, antes);
    DeleteDC(memoria);
}

// The whole window is composed off-screen and copied in one transfer: no flicker.
static void Pintar(HWND v)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(v, &ps);
    HDC memoria = CreateCompatibleDC(dc);
    HBITMAP lienzo = CreateCompatibleBitmap(dc, ANCHO_VENTANA, ALTO_VENTANA);
    HGDIOBJ antes = SelectObject(memoria, lienzo);
    Dibujar(memoria, fondo, 0, 0, ANCHO_VENTANA, ALTO_VENTANA);
    BITMAP b;
    if (GetObjectA(barra, sizeof b, &b) && b.bmWidth * mostrado >= ESCALA)
        Dibujar(memoria, barra, BARRA_X, BARRA_Y, b.bmWidth * mostrado / ESCALA, b.bmHeight);
    Dibujar(memoria, bInstalar[instalando ? 0 : Estado(1)], INSTALAR_X, BOTON_Y, BOTON_ANCHO, BOTON_ALTO);
    Dibujar(memoria, bSalir[instalando ? 0 : Estado(2)], SALIR_X, BOTON_Y, BOTON_ANCHO, BOTON_ALTO);
    BitBlt(dc, 0, 0, ANCHO_VENTANA, ALTO_VENTANA, memoria, 0, 0, SRCCOPY);
    SelectObject(memoria, antes);
    DeleteObject(lienzo);
    DeleteDC(memoria);
    EndPaint(v, &ps);
}

static void Mover(HWND v, int x, int y)
{
    int boton = BotonEn(x, y);
    if (boton == hover)
        return;
    hover = boton;
    TRACKMOUSEEVENT t = {sizeof t, TME_LEAVE, v, 0};
    TrackMouseEvent(&t);
    InvalidateRect(v, NULL, FALSE);
}

static void Apretar(HWND v, int x, int y)
{
    int boton = BotonEn(x, y);
    if (boton == 0) {
        // Anywhere else drags the window, as its caption would.
        ReleaseCapture();
        SendMessageW(v, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    } else if (!instalando) {
        apretado = boton;
        SetCapture(v);
        InvalidateRect(v, NULL, FALSE);
    }
}

static void SoltarBoton(HWND v, int x, int y)
{
    if (apretado == 0)
        return;
    int era = apretado;
    apretado = 0;
    ReleaseCapture();
    InvalidateRect(v, NULL, FALSE);
    int boton = BotonEn(x, y);
    if (era == 1 && boton == 1)
        Instalar();
    else if (era == 2 && boton == 2)
        DestroyWindow(v);
}

static void Tic(HWND v)
{
    int meta = objetivo;
    if (mostrado < meta) {
        mostrado = Acercar(mostrado, meta);
        InvalidateRect(v, NULL, FALSE);
    } else if (terminado && mostrado >= ESCALA) {
        terminado = 0;
        Terminar();
    }
}

LRESULT CALLBACK Proc(HWND v, UINT mensaje, WPARAM w, LPARAM l)
{
    int x = (short)LOWORD(l), y = (short)HIWORD(l);
    switch (mensaje) {
    case WM_CREATE:
        SetTimer(v, 1, 15, NULL);
        return 0;
    case WM_DESTROY:
        KillTimer(v, 1);
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        Pintar(v);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_CLOSE:
        if (!instalando)
            DestroyWindow(v);
        return 0;
    case WM_SETCURSOR:
        SetCursor(mano ? mano : LoadCursorW(NULL, (LPCWSTR)IDC_ARROW));
        return 1;
    case WM_COMMAND:
        if (w == 1)
            Instalar();
        return 0;
    case WM_TIMER:
        Tic(v);
        return 0;
    case WM_MOUSEMOVE:
        Mover(v, x, y);
        return 0;
    case WM_LBUTTONDOWN:
        Apretar(v, x, y);
        return 0;
    case WM_LBUTTONUP:
        SoltarBoton(v, x, y);
        return 0;
    case WM_MOUSELEAVE:
        if (apretado == 0) {
            hover = 0;
            InvalidateRect(v, NULL, FALSE);
        }
        return 0;
    case WM_TERMINADO:
        if ((unsigned)resultado < 2)
            terminado = 1;
        else
            Terminar();
        return 0;
    }
    return DefWindowProcW(v, mensaje, w, l);
}

// The Program Files shell folder is the one this process is given: for the 32-bit product on
// 64-bit Windows, "Program Files (x86)".
void ElegirDestino(void)
{
    if (FAILED(SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, destino)))
        StringCchCopyA(destino, MAX_PATH, "C:\\Program Files");
    StringCchCatA(destino, MAX_PATH, "\\Brumaria");
}

int WINAPI WinMain(HINSTANCE instancia, HINSTANCE, LPSTR, int)
{
    inst = instancia;
    ElegirDestino();

    fondo = LoadBitmapW(inst, MAKEINTRESOURCEW(IDB_FONDO));
    barra = LoadBitmapW(inst, MAKEINTRESOURCEW(IDB_BARRA));
    for (int i = 0; i < 3; i++) {
        bInstalar[i] = LoadBitmapW(inst, MAKEINTRESOURCEW(IDB_INSTALAR + i));
        bSalir[i] = LoadBitmapW(inst, MAKEINTRESOURCEW(IDB_SALIR + i));
    }
    mano = LoadCursorW(inst, MAKEINTRESOURCEW(IDC_MANO));

    WNDCLASSW clase;
    ZeroMemory(&clase, sizeof clase);
    clase.lpfnWndProc = Proc;
    clase.hInstance = inst;
    clase.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(IDI_BRUMARIA));
    clase.lpszClassName = L"BRM_Instalador";
    RegisterClassW(&clase);

    int x = (GetSystemMetrics(SM_CXSCREEN) - ANCHO_VENTANA) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - ALTO_VENTANA) / 2;
    ventana = CreateWindowExW(WS_EX_APPWINDOW, L"BRM_Instalador", L"Instalar Brumaria", WS_POPUP | WS_MINIMIZEBOX, x,
                              y, ANCHO_VENTANA, ALTO_VENTANA, NULL, NULL, inst, NULL);
    if (!ventana)
        return 1;
    ShowWindow(ventana, SW_SHOW);
    UpdateWindow(ventana);

    MSG m;
    while (GetMessageW(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
