#!/bin/sh
# wine32.sh PROGRAM [ARGUMENT...]: runs a 32-bit Windows program under Wine's
# 32-bit loader, for the tests of the 32-bit build (.ci/setup-wine32 makes
# what it needs).
#
# The loader is Debian's wine32:i386, unpacked but not installed (installed,
# it would run every program, the 64-bit ones too, through QEMU), and it
# works only from /usr/lib/wine/wine. So it runs in a private mount namespace
# in which a copy of /usr/lib/wine that holds it is mounted over
# /usr/lib/wine; nothing outside sees the mount. Needs root.
lib=${TOVIK_WINE32_LIB:-/opt/tovik-wine32/lib-wine}
exec unshare --mount --propagation private \
  sh -c 'mount --bind "$0" /usr/lib/wine && exec /usr/lib/wine/wine "$@"' "$lib" "$@"
