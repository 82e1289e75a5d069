# What `cmake --install` puts where, and the Debian package (`cpack -G DEB`) of all of it:
#   lib/liblumavex_core.so*                        the library (exports: include/lumavex_core.h)
#   include/lumavex_core.h                         its header
#   lib/cmake/lumavex_core/                        find_package(lumavex_core): target lumavex::core
#   lib/pkgconfig/lumavex_core.pc                  pkg-config --cflags --libs lumavex_core
#   bin/lumavex_sim_tracker                        the simulated tracker
#   share/man/man1/lumavex_sim_tracker.1           its manual page
#   share/doc/lumavex_core/                        README, guide, examples/ (the guide's C programs)
#   share/doc/lumavex_core/html/                   the API reference (when lumavex_docs was built)
# (lib is lib/<multiarch> on Debian when the prefix is /usr.)
include(CMakePackageConfigHelpers)

set(lvx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/lumavex_core)

# The library needs nothing beyond the C and C++ runtimes, so it carries no RUNPATH of its own.
# An application finds it through ldconfig (the Debian package runs it; after installing under
# /usr/local run `ldconfig` once as root) or through a RUNPATH of its own for any other prefix:
# CMake gives one to programs built against lumavex::core, and with pkg-config add
# -Wl,-rpath,$(pkg-config --variable=libdir lumavex_core) (see docs/guide.md, "Installing").

install(TARGETS lumavex_core EXPORT lumavex_coreTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/lumavex_core.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT lumavex_coreTargets NAMESPACE lumavex:: FILE lumavex_coreTargets.cmake
        DESTINATION ${lvx_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/lumavex_coreConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/lumavex_coreConfig.cmake
                              INSTALL_DESTINATION ${lvx_cmake_dir})
# Before 1.0 every minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lumavex_coreConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lumavex_coreConfig.cmake
              ${PROJECT_BINARY_DIR}/lumavex_coreConfigVersion.cmake
        DESTINATION ${lvx_cmake_dir})

# pkg-config: the prefix is worked out from the .pc file's own directory.
set(lvx_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH LVX_PC_UP /prefix/${lvx_pc_dir} /prefix)
string(REGEX REPLACE "/$" "" LVX_PC_UP "${LVX_PC_UP}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/lumavex_core.pc.in
               ${PROJECT_BINARY_DIR}/lumavex_core.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lumavex_core.pc DESTINATION ${lvx_pc_dir})

if(TARGET lumavex_sim_tracker)
  install(TARGETS lumavex_sim_tracker RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/sim/lumavex_sim_tracker.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/guide.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The guide's programs: the smallest connection test and the typical experiment.
install(FILES ${PROJECT_SOURCE_DIR}/examples/c_connect.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/tests/consumer/consumer.c
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME experiment.c)

# The API reference, when it has been built (cmake --build <build> --target lumavex_docs) before
# installing or packaging.
if(TARGET lumavex_docs)
  install(DIRECTORY ${LVX_DOCS_DIR}/html DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
endif()

# The Debian package: cpack -G DEB in the build directory.
set(CPACK_PACKAGE_NAME lumavex-core)
set(CPACK_PACKAGE_VENDOR "lumavex_core developers")
set(CPACK_PACKAGE_CONTACT "lumavex_core developers <lumavex-core@localhost>" CACHE STRING
    "Maintainer named in the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "The library an experiment program on the display computer links to drive a Lumavex eye "
       "tracker over Ethernet (C interface, CMake and pkg-config files), with a simulated "
       "tracker for rehearsing experiments on one machine.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The dependencies (libc6, libstdc++6, libgcc-s1) come from the programs themselves.
find_program(LVX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LVX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
# ldconfig runs after the package is installed or removed.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
