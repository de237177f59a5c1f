# make install and make package (Linux): the install rules, the Debian
# package's settings, and the distribution's hardening for the tool it ships.
# Included from CMakeLists.txt once the targets exist.

# The tool as Debian builds its own programs: the flags of dpkg-buildflags
# with every hardening feature (fortified calls, stack protector, read-only
# relocations bound at start). Only the optimisation and debug flags are the
# build type's, and the sanitizer and fuzz builds, which bring their own
# checks, go without.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT VELMARSH_SANITIZE AND NOT VELMARSH_FUZZ)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
              "DEB_CXXFLAGS_MAINT_STRIP=-g -O2" ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(VELMARSH_DEB_${kind} UNIX_COMMAND "${flags}")
  endforeach()
  # Fortified calls need the optimiser: not in a Debug build.
  foreach(target velmarsh velmarsh_core velmarsh_platform)
    target_compile_options(${target} PRIVATE
      "$<$<NOT:$<CONFIG:Debug>>:${VELMARSH_DEB_CPPFLAGS}>" ${VELMARSH_DEB_CXXFLAGS})
  endforeach()
  target_link_options(velmarsh PRIVATE ${VELMARSH_DEB_LDFLAGS})
endif()

# make install / cmake --install: the program, its manual page and bash
# completion, and for a package's users the README, the changelog and the
# licence (in Debian's copyright file).
include(GNUInstallDirs)
# Installing and packing build nothing: make install and make package build
# the tool first, and the tests pack the build they run in.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
configure_file(${PROJECT_SOURCE_DIR}/docs/velmarsh.1 ${CMAKE_BINARY_DIR}/velmarsh.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog ${CMAKE_BINARY_DIR}/changelog @ONLY)
# The licence as Debian's machine-readable copyright file: the text
# indented by one blank, an empty line as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE VELMARSH_LICENSE)
string(STRIP "${VELMARSH_LICENSE}" VELMARSH_LICENSE)
string(REPLACE "\n" "\n " VELMARSH_LICENSE " ${VELMARSH_LICENSE}")
string(REPLACE "\n \n" "\n .\n" VELMARSH_LICENSE "${VELMARSH_LICENSE}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: velmarsh\n\nFiles: *\nCopyright: 2026 The Velmarsh authors\nLicense: Expat\n${VELMARSH_LICENSE}\n")
# The manual page and the changelog go out compressed, as Debian has them.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/velmarsh.1.gz ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nkf velmarsh.1 changelog
  DEPENDS ${CMAKE_BINARY_DIR}/velmarsh.1 ${CMAKE_BINARY_DIR}/changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
add_custom_target(compressed_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/velmarsh.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)
add_dependencies(velmarsh compressed_docs)  # make install builds the tool alone
install(TARGETS velmarsh RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped tool (the package's) also loses the compiler's notes, as
# Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND ${CMAKE_STRIP} --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/velmarsh\" COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(FILES ${CMAKE_BINARY_DIR}/velmarsh.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/velmarsh.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME velmarsh)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# make package: a Debian package, its dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmarsh)
set(CPACK_PACKAGE_VERSION ${VELMARSH_DEBIAN_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmarsh authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move game world map layers to BMP files and back")
set(CPACK_PACKAGE_DESCRIPTION "Velmarsh moves the four map layers of a game world file (WOODS.WLD),
SmallMap, LandType, LandHeight and LargeMap, out to 8-bit indexed BMP
files and back in, so that they can be painted in any image program.
Imports take BMP of every common kind and PNG, reading their colours,
and the world is copied to WORLD.bak before an import changes it.

Scripts give it the work as arguments (velmarsh export WORLD, velmarsh
import WORLD LAYER=FILE); otherwise it asks its questions at the terminal,
with line editing and completion, or reads one answer per line from a
script. An interrupt never leaves a world half-imported.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Velmarsh authors <velmarsh@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Tab completes nothing until bash's completion is installed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
