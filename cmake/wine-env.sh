# Sourced by the Wine scripts: the loader and the template prefix for the bitness of the programs to run.
# WINE_TEST_BITS=32 runs 32-bit programs with /usr/lib/wine/wine in a WoW64 prefix (made by that loader, so
# that it holds syswow64); anything else runs 64-bit programs with wine64. Both share the 64-bit wineserver.
case "${WINE_TEST_BITS:-64}" in
32)
  wine_loader=/usr/lib/wine/wine
  : "${WINE_TEMPLATE_PREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/morix-wine-template-wow64}"
  ;;
*)
  wine_loader=/usr/lib/wine/wine64
  : "${WINE_TEMPLATE_PREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/morix-wine-template}"
  ;;
esac
wine_server=/usr/lib/wine/wineserver64
