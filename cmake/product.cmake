# The program's sources and settings, shared by its own build and by the tests, which
# compile them a second time with their own toolchain.
set(TARQUELIN_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
set(WARNINGS -Wall -Wextra -Wshadow -Wformat=2)

# The pictures are drawn by a script, the same bytes on every run.
set(ASSETS ${CMAKE_BINARY_DIR}/assets)
set(ASSET_FILES ${ASSETS}/banner.bmp ${ASSETS}/hand.cur ${ASSETS}/icon_group.bin)
foreach(id 30001 30002 30003 30004 30005 30006)
  list(APPEND ASSET_FILES ${ASSETS}/icon_${id}.dib)
endforeach()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${ASSET_FILES}
  COMMAND Python3::Interpreter ${TARQUELIN_ROOT}/window/assets/draw.py ${ASSETS}
  DEPENDS ${TARQUELIN_ROOT}/window/assets/draw.py
  COMMENT "Drawing the banner, icon and pointer")
set_source_files_properties(${TARQUELIN_ROOT}/window/tarquelin.rc PROPERTIES
  OBJECT_DEPENDS "${ASSET_FILES};${TARQUELIN_ROOT}/window/tarquelin.manifest;${TARQUELIN_ROOT}/window/resource.h")

set(CORE_SOURCES
  runtime/ansi.cpp runtime/app.cpp runtime/desktop.cpp runtime/errors.cpp runtime/files.cpp
  runtime/form.cpp runtime/log.cpp runtime/settings.cpp runtime/variant.cpp
  system/api.cpp system/basRegistry.cpp system/clsExitWindows.cpp system/modElevation.cpp system/modInstall.cpp system/modPending.cpp system/modProcesses.cpp system/modWorld.cpp
  window/frmMain.cpp window/layout.cpp
  workflow/Removal.cpp workflow/Steps.cpp workflow/Unattended.cpp)
list(TRANSFORM CORE_SOURCES PREPEND ${TARQUELIN_ROOT}/)
add_library(tarquelin_core STATIC ${CORE_SOURCES})
target_include_directories(tarquelin_core PUBLIC ${TARQUELIN_ROOT})
target_compile_options(tarquelin_core PUBLIC ${WARNINGS})
target_link_libraries(tarquelin_core PUBLIC advapi32 user32 gdi32)
