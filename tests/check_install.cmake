cmake_minimum_required(VERSION 3.25)
# Installs the build into a scratch prefix, through a link to it as a prefix under a linked
# /home is, and checks that the program, its launcher entry, its theme icons and man page land
# where desktops look for them, the entry naming the installed program by its path with the
# links resolved (KWin's) and asking KWin for its fake input.
# Usage: cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX} ${PREFIX}-link)
file(MAKE_DIRECTORY ${PREFIX})
file(CREATE_LINK ${PREFIX} ${PREFIX}-link SYMBOLIC)
file(REAL_PATH ${PREFIX} resolved)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}-link
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path bin/clickburst share/applications/clickburst.desktop
             share/icons/hicolor/16x16/apps/clickburst.png
             share/icons/hicolor/32x32/apps/clickburst.png share/man/man1/clickburst.1.gz)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/clickburst.desktop entry)
foreach(line "Exec=${resolved}/bin/clickburst" "Icon=clickburst" "Type=Application"
             "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "clickburst.desktop lacks ${line}")
  endif()
endforeach()
