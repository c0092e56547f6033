#!/usr/bin/env bash
# The package as a user gets it (as root): installs build-package/tonemorph_*.deb with apt-get,
# runs the installed /usr/bin/tonemorph through one start-render-quit GUI test in a scratch folder
# holding only a 1.jpg, reads its manual page, removes the package and checks that none of its
# files is left. Needs `make test` to have built the GUI tests.
set -euo pipefail
cd "$(dirname "$0")/.."
debs=(build-package/tonemorph_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || { echo "expected one package in build-package" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
command -v desktop-file-validate >/dev/null && command -v file >/dev/null ||
  apt-get install -y -qq --no-install-recommends desktop-file-utils file

apt-get install -y -qq "./${debs[0]}"
mapfile -t installed < <(dpkg -L tonemorph)
echo "installed: $(command -v tonemorph)"
TONEMORPH_EXECUTABLE=/usr/bin/tonemorph build/tests/startup_gui_test \
  --gtest_filter='Startup.ShowsSourceAndIdenticalEffectThenQuitsOnQ:Startup.PictureNamedOnTheCommandLineIsShown'
# The desktop entry as the desktop reads it, offering the program for JPEG and PNG at least, and
# its icon in the hicolor sizes.
desktop-file-validate /usr/share/applications/tonemorph.desktop
grep -q '^MimeType=.*image/jpeg;.*image/png;' /usr/share/applications/tonemorph.desktop
grep -q '^Exec=tonemorph %f$' /usr/share/applications/tonemorph.desktop
for size in 16 22 24 32 48 64 128 256 512; do
  [[ "$(file -b /usr/share/icons/hicolor/${size}x${size}/apps/tonemorph.png)" == "PNG image data, $size x $size, 8-bit/color RGBA"* ]] ||
    { echo "no ${size}x${size} icon" >&2; exit 1; }
done
echo "desktop entry and icons: in place"
man -w tonemorph
MANWIDTH=80 man --warnings -l "$(man -w tonemorph)" >/dev/null

apt-get remove -y -qq tonemorph
left=0
for path in "${installed[@]}"; do
  if [[ -f "$path" || -L "$path" ]]; then
    echo "left behind: $path" >&2
    left=1
  fi
done
[[ -e /usr/share/doc/tonemorph ]] && { echo "left behind: /usr/share/doc/tonemorph" >&2; left=1; }
[[ $left -eq 0 ]] && echo "removed: nothing of the package is left"
exit $left
