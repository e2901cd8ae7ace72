# Every outside library, found once and visible to every folder: a static
# library's link interface names them wherever it is linked.
find_package(Qt6 REQUIRED COMPONENTS Core Network Gui Widgets DBus Test)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
pkg_check_modules(IBUS REQUIRED IMPORTED_TARGET GLOBAL ibus-1.0)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET GLOBAL libsecret-1)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET GLOBAL gio-2.0)
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET GLOBAL libqrencode)
find_package(OpenSSL REQUIRED)

# One static library per folder of main/; their headers are named from main/
# ("model/DesktopState.h").
function(tellwire_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/main)
endfunction()
