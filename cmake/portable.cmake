# The portable Linux build (CLICKBURST_PORTABLE): one binary for every distribution with glibc
# 2.34 or later. FLTK and the C++ run-time are linked in, since distributions ship them in
# other versions or not at all; what every desktop has stays shared: glibc, X11 and the
# extensions FLTK draws with, libwayland-client and libsystemd. libXtst is still bound by name
# at the first click. Included before src/, whose FLTK lookup then finds this archive.
find_library(FLTK_STATIC_ARCHIVE libfltk.a)
clickburst_require(FLTK_STATIC_ARCHIVE libfltk1.3-dev)
add_library(fltk_static STATIC IMPORTED)
set_target_properties(fltk_static PROPERTIES IMPORTED_LOCATION ${FLTK_STATIC_ARCHIVE})
# What the archive calls, by the libraries' stable names: their run-time packages, which FLTK's
# own brings, are enough to link (no -dev package for each).
foreach(library Xrender.so.1 Xcursor.so.1 Xfixes.so.3 Xext.so.6 Xft.so.2 fontconfig.so.1
                Xinerama.so.1 X11.so.6)
  find_library(library_path lib${library})
  clickburst_require(library_path libfltk1.3)
  set_property(TARGET fltk_static APPEND PROPERTY INTERFACE_LINK_LIBRARIES ${library_path})
  unset(library_path CACHE)
endforeach()
set(FLTK_BASE_LIBRARY fltk_static CACHE STRING "FLTK, linked in" FORCE)
# Shared libraries the archive's objects do not call are left out (Debian's linker keeps
# them by default), and so are unused sections: libstdc++'s std::random_device, which nothing
# here calls, would otherwise need glibc 2.36's arc4random. libgcc stays shared (libgcc_s.so.1
# is wherever glibc is): its static unwinder needs glibc 2.35's _dl_find_object.
add_link_options(-static-libstdc++ -Wl,--as-needed -Wl,--gc-sections)
