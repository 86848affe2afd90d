#!/usr/bin/env bash
# The installer as a person uses it: a release made with publicar and served by nginx on
# 127.0.0.1, the installer's window under Xvfb, driven with xdotool and checked by pixels of
# screenshots against the pictures the program carries.
#   prueba_ventana.sh BUILD [EMULADOR]   (BUILD: a build folder with the tests; EMULADOR:
#                                        scripts/wine, the default, or scripts/win32)
set -euo pipefail
raiz=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
wine=${2:-$raiz/scripts/wine}
# A Wine session of its own, with the display it starts.
export WINEPREFIX=$build/wine-ventana
capturas=$build/capturas
# Inside the build folder: the 32-bit programs run in a tree that sees the work tree, not /tmp.
tmp=$(mktemp -d "$build/ventana.XXXXXX")
source "$raiz/scripts/ventana-comun.sh"
# The window's geometry, from the header the installer is built with: ANCHO_VENTANA, BARRA_X,
# BOTON_Y, INSTALAR_X and the rest become shell variables.
eval "$(sed -n 's/^#define \([A-Z_]*\) \([0-9][0-9]*\)$/\1=\2/p' "$raiz/res/recursos.h")"
# Points in the window: the middle of each button, the gap between them at the buttons' height,
# a point of the title (outside the buttons, to drag by) and one inside the bar's track.
instalarX=$((INSTALAR_X + BOTON_ANCHO / 2)) salirX=$((SALIR_X + BOTON_ANCHO / 2)) botonesY=$((BOTON_Y + BOTON_ALTO / 2))
medioX=$((ANCHO_VENTANA / 2)) tituloY=30
barraX=$((BARRA_X + 5)) barraY=$((BARRA_Y + BARRA_ALTO / 2))

fallos=0
bien() { echo "ok: $*"; }
mal() { echo "FALLO: $*"; fallos=$((fallos + 1)); }

puerto=$((20000 + RANDOM % 20000))
limpiar() {
  "$raiz/scripts/servir" --parar "$tmp/nginx" || true
  cerrarSesionGrafica
  rm -rf "$tmp"
}
trap limpiar EXIT
sesionGrafica

# ---- a release of about 3 MB, served slowly enough to watch the bar move ----
juego=$tmp/juego
mkdir -p "$juego/Recursos/Mapas"
cp "$build/demo/Brumaria.exe" "$build/demo/Uninstall.exe" "$juego/"
head -c 3000000 /dev/urandom >"$juego/Recursos/datos.pak"
for i in 1 2 3 4 5; do echo "mapa $i" >"$juego/Recursos/Mapas/mapa$i.map"; done
"$wine" "$build/herramientas/publicar/publicar.exe" release "$(ventanaWin "$juego")" "$(ventanaWin "$tmp/salida")" \
  --version 1 --clave "$(ventanaWin "$raiz/pruebas/clave/prueba.priv")" >/dev/null
"$raiz/scripts/servir" "$tmp/salida" "$puerto" "$tmp/nginx" 600k

instalador="$build/instalador/Instalar Brumaria.exe"
segunBuild "$instalador"
instalado=$programas/Brumaria
# The installer puts its shortcut on the desktop of all users.
escritorio=$WINEPREFIX/drive_c/users/Public/Desktop
preparar() {
  rm -rf "$instalado" "$escritorio/Brumaria.lnk"
  "$wine" reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\BRM' /f "$vistaReg" >/dev/null 2>&1 || true
  mkdir -p "$instalado/Recursos/Avanzado"
  echo "http://127.0.0.1:$1/" >"$instalado/Recursos/Avanzado/ServidorDescargas.txt"
}

# Runs a command until it succeeds or SECONDS seconds have passed: hasta SECONDS COMMAND...
hasta() {
  local fin=$(($(date +%s%N) + $1 * 1000000000))
  shift
  until "$@"; do
    [ "$(date +%s%N)" -lt "$fin" ] || return 1
    sleep 0.1
  done
}
# Colour of one pixel, as #RRGGBB.
pixel() { convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1; }
# The window's pixel (x, y) in a screenshot shows the picture's pixel (px, py). A busy machine
# may paint late, so a mismatch is looked at again in fresh screenshots for up to 5 seconds.
igual() {
  local nombre=$1 x=$2 y=$3 imagen=$4 px=$5 py=$6
  local visto esperado
  esperado=$(pixel "$raiz/res/$imagen" "$px" "$py")
  mismoPixel() {
    visto=$(pixel "$capturas/$nombre.png" $((vx + x)) $((vy + y)))
    [ "$visto" = "$esperado" ] && return 0
    captura "$nombre"
    return 1
  }
  hasta 5 mismoPixel || visto=$(pixel "$capturas/$nombre.png" $((vx + x)) $((vy + y)))
  if [ "$visto" = "$esperado" ]; then bien "$nombre: ($x,$y) shows $imagen"; else mal "$nombre: ($x,$y) is $visto, $imagen has $esperado"; fi
}
# A point of a button whose three images all differ there.
distinto() {
  local base=$1 x y
  for x in $(seq 10 $((BOTON_ANCHO - 11))); do
    for y in 8 12 15 18 21; do
      local a b c
      a=$(pixel "$raiz/res/${base}0.bmp" "$x" "$y")
      b=$(pixel "$raiz/res/${base}1.bmp" "$x" "$y")
      c=$(pixel "$raiz/res/${base}2.bmp" "$x" "$y")
      if [ "$a" != "$b" ] && [ "$b" != "$c" ] && [ "$a" != "$c" ]; then echo "$x $y"; return; fi
    done
  done
}
read -r ix iy <<<"$(distinto instalar)"
read -r sx sy <<<"$(distinto salir)"
# The install or exit button shows its image N (0 normal, 1 hover, 2 pressed): enInstalar NAME N
enInstalar() { igual "$1" $((INSTALAR_X + ix)) $((BOTON_Y + iy)) "instalar$2.bmp" "$ix" "$iy"; }
enSalir() { igual "$1" $((SALIR_X + sx)) $((BOTON_Y + sy)) "salir$2.bmp" "$sx" "$sy"; }
# Moves the mouse to a point of the window, then runs the rest as further xdotool commands.
raton() { xdotool mousemove $((vx + $1)) $((vy + $2)) "${@:3}"; }

# ---- the idle window ----
preparar "$puerto"
arrancar "$instalador"
read -r pantallaX pantallaY <<<"$(xdotool getdisplaygeometry)"
centroX=$(((pantallaX - ANCHO_VENTANA) / 2)) centroY=$(((pantallaY - ALTO_VENTANA) / 2))
if [ "$WIDTH" = "$ANCHO_VENTANA" ] && [ "$HEIGHT" = "$ALTO_VENTANA" ] && [ "$vx" = "$centroX" ] && [ "$vy" = "$centroY" ]; then
  bien "window $WIDTH x $HEIGHT at ($vx, $vy), centred"
else
  mal "window ${WIDTH} x ${HEIGHT} at ($vx, $vy), not $ANCHO_VENTANA x $ALTO_VENTANA at ($centroX, $centroY)"
fi
# Every check below looks again in fresh screenshots until the window shows what it should (or
# igual's deadline passes), so a move of the mouse needs no pause before its screenshot; the
# cut-out window is saved after the checks, from the screenshot that passed them.
raton "$medioX" "$tituloY"
captura inicial
igual inicial "$medioX" 10 fondo.bmp "$medioX" 10
igual inicial 5 75 fondo.bmp 5 75
igual inicial "$barraX" "$barraY" fondo.bmp "$barraX" "$barraY"   # the empty track
igual inicial "$medioX" 60 fondo.bmp "$medioX" 60
enInstalar inicial 0
enSalir inicial 0
recorte inicial

# ---- hover and press ----
raton "$instalarX" "$botonesY"
captura hover
enInstalar hover 1
enSalir hover 0
recorte hover
raton "$salirX" "$botonesY"
captura hover-salir
enSalir hover-salir 1
enInstalar hover-salir 0

raton "$instalarX" "$botonesY" mousedown 1
captura apretado
enInstalar apretado 2
raton "$medioX" "$botonesY"
captura apretado-fuera
enInstalar apretado-fuera 0
raton "$instalarX" "$botonesY"
captura apretado-vuelta
enInstalar apretado-vuelta 2
xdotool mouseup 1

# ---- installing: the bar moves, a close request is refused, a press elsewhere drags ----
captura instalando
igual instalando "$barraX" "$barraY" barra.bmp $((barraX - BARRA_X)) $((barraY - BARRA_Y))
enInstalar instalando 0
recorte instalando
# Keys go to the focused window through the X server: Wine ignores synthetic key events. The
# check is that nothing happens, which has no condition to poll: the request gets a fixed time
# to arrive before the window is looked for.
xdotool windowfocus "$ventana" key alt+F4; sleep 0.5
existe '^Instalar Brumaria$' && bien "close request refused while installing" || mal "the window closed while installing"
raton "$medioX" "$tituloY" mousedown 1 mousemove $((vx + medioX + 60)) $((vy + tituloY + 40)) mouseup 1
movida() { eval "$(xdotool getwindowgeometry --shell "$ventana")"; [ "$X" != "$vx" ] || [ "$Y" != "$vy" ]; }
hasta 5 movida && bien "dragged to ($X, $Y)" || mal "a press outside the buttons did not drag"

if esperarFin; then bien "the window closed by itself"; else mal "the window did not close"; fi
cmp -s "$juego/Recursos/datos.pak" "$instalado/Recursos/datos.pak" && bien "files installed" || mal "datos.pak differs"
hasta 10 test -f "$instalado/lanzado.txt" && bien "launcher started" || mal "launcher not started"
[ -f "$escritorio/Brumaria.lnk" ] && bien "desktop shortcut" || mal "no desktop shortcut"
"$wine" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\BRM' /v DisplayName "$vistaReg" 2>/dev/null | grep -q Brumaria &&
  bien "uninstall entry" || mal "no uninstall entry"

# ---- failure: the dialog, Cancel leaves the window idle with an empty bar ----
preparar $((puerto + 1))   # nothing listens there
arrancar "$instalador"
raton "$instalarX" "$botonesY" click 1
# Waits up to 20 seconds for the failure dialog and sets dialogo. Once it is shown, a short fixed
# pause lets it settle before it is photographed and clicked: there is nothing to poll for that,
# since Wine gives the box's buttons no X windows and the X input focus stays with the pointer.
hayDialogo() {
  dialogo=$(xdotool search --onlyvisible --name '^Brumaria$' | head -1)
  [ -n "$dialogo" ]
}
dialogo() { hasta 20 hayDialogo && sleep 0.5; }
sinDialogo() { ! existe '^Brumaria$'; }
if dialogo; then bien "failure dialog shown"; else mal "no failure dialog"; fi
captura error
recorte error
# The box's buttons are clicked where Wine puts them (it draws message boxes the same way every
# time); a slow press, because a press and release in one instant may reach the box as no click.
boton() {
  eval "$(xdotool getwindowgeometry --shell --prefix D "$dialogo")"
  xdotool mousemove $((DX + $1)) $((DY + 68)) sleep 0.3 mousedown 1 sleep 0.3 mouseup 1
  hasta 5 sinDialogo
}
# Retry: a new run, which fails the same way.
boton 133 && dialogo && bien "Retry ran again" || mal "Retry did not run again"
boton 235
existe '^Brumaria$' && mal "the dialog stayed" || bien "Cancel closed the dialog"
captura cancelado
igual cancelado "$barraX" "$barraY" fondo.bmp "$barraX" "$barraY"
enInstalar cancelado 0
# Both buttons answer again.
raton "$instalarX" "$botonesY"
captura cancelado-hover
enInstalar cancelado-hover 1
# Idle again: the same close request that was refused during the install now closes it.
xdotool windowfocus "$ventana" key alt+F4
esperarFin && bien "a close request closes the idle window" || mal "the idle window ignored a close request"
arrancar "$instalador"
raton "$salirX" "$botonesY" click 1
esperarFin && bien "SALIR closes the window" || mal "SALIR did not close the window"

echo "screenshots: $capturas"
[ "$fallos" -eq 0 ] && echo "window checks passed" || { echo "$fallos window checks failed"; exit 1; }
