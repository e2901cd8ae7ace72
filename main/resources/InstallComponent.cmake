# Run at install time: writes the component file with the installed program's
# path, so that `cmake --install --prefix` and DESTDIR both give the right exec.
# Expects TELLWIRE_COMPONENT_TEMPLATE, TELLWIRE_LIBEXECDIR and TELLWIRE_DATADIR.
file(READ "${TELLWIRE_COMPONENT_TEMPLATE}" content)
if(IS_ABSOLUTE "${TELLWIRE_LIBEXECDIR}")
  set(exec "${TELLWIRE_LIBEXECDIR}/Tellwire")
else()
  set(exec "${CMAKE_INSTALL_PREFIX}/${TELLWIRE_LIBEXECDIR}/Tellwire")
endif()
if(IS_ABSOLUTE "${TELLWIRE_DATADIR}")
  set(folder "${TELLWIRE_DATADIR}/ibus/component")
else()
  set(folder "${CMAKE_INSTALL_PREFIX}/${TELLWIRE_DATADIR}/ibus/component")
endif()
string(REPLACE "@TELLWIRE_EXEC@" "${exec}" content "${content}")
message(STATUS "Installing: $ENV{DESTDIR}${folder}/tellwire.xml")
file(WRITE "$ENV{DESTDIR}${folder}/tellwire.xml" "${content}")
