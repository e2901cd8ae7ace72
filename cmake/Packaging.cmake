# Debian packages of everything `cmake --install` lays out: tellwire, and
# tellwire-fcitx5 with the fcitx5 addon, so that only desktops that use fcitx5
# get fcitx5's libraries. The packages install under the configured prefix, because the component file and the
# launcher carry installed paths: configure with -DCMAKE_INSTALL_PREFIX=/usr
# so that the component lands in /usr/share/ibus/component, where
# ibus-daemon reads it. Build with `cpack --config <build>/CPackConfig.cmake`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tellwire)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tellwire developers <tellwire@orrisfeld.cc>")
set(CPACK_PACKAGE_VENDOR "Orrisfeld")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Types what you dictate on your phone at the cursor (IBus or fcitx5 input method)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tellwire types, at the text cursor of the focused application, what you
dictate on your phone through a relay service, and is a small pinyin
keyboard besides (Shift+Space switches Chinese and English). It runs as an
IBus engine, or in fcitx5 through its addon (package tellwire-fcitx5);
TellwireRegister (TellwireRegisterFcitx5 under fcitx5) enables it,
TellwireDesktop opens its settings.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from dpkg-shlibdeps; what is loaded or run by name is listed:
# an input-method framework, Qt's display plugins, and a Secret Service for the sign-in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ibus (>= 1.5) | fcitx5, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | keepassxc, qt6-wayland, fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_TELLWIRE_PACKAGE_NAME tellwire)
set(CPACK_DEBIAN_FCITX5_PACKAGE_NAME tellwire-fcitx5)
set(CPACK_DEBIAN_FCITX5_PACKAGE_DEPENDS "tellwire (= ${CPACK_PACKAGE_VERSION}), fcitx5")
set(CPACK_DEBIAN_FCITX5_PACKAGE_RECOMMENDS "")
# Earlier packages of tellwire held the addon themselves.
set(CPACK_DEBIAN_FCITX5_PACKAGE_REPLACES tellwire)
set(CPACK_DEBIAN_FCITX5_DESCRIPTION "The fcitx5 addon that runs Tellwire as one of fcitx5's input
methods, Tellwire 语音输入.")
include(CPack)
