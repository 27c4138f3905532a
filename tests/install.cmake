cmake_minimum_required(VERSION 3.25)
# Installs the build into an empty prefix and checks that the programs, the menu entry and
# the icons land where desktops look for them, and that the installed programs start.
# Called with -DBUILD_DIR=... -DPREFIX=... [-DVALIDATE=desktop-file-validate].
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

foreach(f bin/zantiro bin/zantiro-cli share/applications/zantiro.desktop
          share/icons/hicolor/scalable/apps/zantiro.svg share/icons/hicolor/48x48/apps/zantiro.png)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# The PNG really is 48 by 48: width and height from its header.
file(READ "${PREFIX}/share/icons/hicolor/48x48/apps/zantiro.png" size OFFSET 16 LIMIT 8 HEX)
if(NOT size STREQUAL "0000003000000030")
  message(FATAL_ERROR "icon is not 48x48: ${size}")
endif()

# The menu entry starts the installed program under the installed icon's name.
file(STRINGS "${PREFIX}/share/applications/zantiro.desktop" entry)
foreach(line "Exec=zantiro" "Icon=zantiro" "Type=Application")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "zantiro.desktop lacks ${line}")
  endif()
endforeach()
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/zantiro.desktop" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "zantiro.desktop does not validate")
  endif()
endif()

# Both installed programs run: the window answers --help without a display, the headless
# peer without arguments prints its usage and exits 2.
execute_process(COMMAND "${PREFIX}/bin/zantiro" --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^usage: zantiro")
  message(FATAL_ERROR "installed zantiro --help: ${rc} ${out}")
endif()
execute_process(COMMAND "${PREFIX}/bin/zantiro-cli" RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "usage: zantiro-cli")
  message(FATAL_ERROR "installed zantiro-cli: ${rc} ${err}")
endif()

# The installed peer keeps its files in the user's data folder, never beside itself in bin.
set(ENV{HOME} "${PREFIX}/home")
set(ENV{XDG_DATA_HOME} "${PREFIX}/home/data")
execute_process(COMMAND "${PREFIX}/bin/zantiro-cli" --connect 127.0.0.1:1 INPUT_FILE "${CMAKE_CURRENT_LIST_DIR}/install-quit.txt"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET TIMEOUT 20)
file(GLOB bin RELATIVE "${PREFIX}/bin" "${PREFIX}/bin/*")
list(SORT bin)
if(NOT rc EQUAL 0 OR NOT bin STREQUAL "zantiro;zantiro-cli" OR NOT EXISTS "${PREFIX}/home/data/Zantiro/qvcfg.cfg")
  message(FATAL_ERROR "installed zantiro-cli: ${rc}, bin holds ${bin}, no options in the user's data folder")
endif()
file(REMOVE_RECURSE "${PREFIX}")
