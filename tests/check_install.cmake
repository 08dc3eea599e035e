cmake_minimum_required(VERSION 3.25)
# Installs the build into a scratch prefix and checks that the program, its launcher entry
# and its theme icons land where desktops look for them, the entry naming the installed program
# by absolute path and asking KWin for its fake input.
# Usage: cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path bin/clickburst share/applications/clickburst.desktop
             share/icons/hicolor/16x16/apps/clickburst.png
             share/icons/hicolor/32x32/apps/clickburst.png)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/clickburst.desktop entry)
foreach(line "Exec=${PREFIX}/bin/clickburst" "Icon=clickburst" "Type=Application"
             "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "clickburst.desktop lacks ${line}")
  endif()
endforeach()
