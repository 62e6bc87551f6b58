# What `cmake --install` lays out. Linux: libquenvar with its public headers, a CMake package
# (Quenvar::quenvar) and quenvar.pc. Windows: the DLL, its type library and its
# registration-free manifest under bin/x86 or bin/x64, so the two architectures installed into one
# prefix sit side by side, and the MIDL header and ids a C++ client compiles against.

if(NOT WIN32)
  include(GNUInstallDirs)
  include(CMakePackageConfigHelpers)

  install(TARGETS quenvar EXPORT QuenvarTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quenvar DESTINATION include)

  set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Quenvar)
  install(EXPORT QuenvarTargets NAMESPACE Quenvar:: DESTINATION ${config_dir})
  file(WRITE ${PROJECT_BINARY_DIR}/QuenvarConfig.cmake
       "include(\"\${CMAKE_CURRENT_LIST_DIR}/QuenvarTargets.cmake\")\n")
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuenvarConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/QuenvarConfig.cmake ${PROJECT_BINARY_DIR}/QuenvarConfigVersion.cmake
    DESTINATION ${config_dir})

  # Relative to the .pc file, so a tree installed with `--prefix` or moved afterwards still works.
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH QUENVAR_PC_PREFIX /root/${pc_dir} /root)
  string(REGEX REPLACE "/$" "" QUENVAR_PC_PREFIX "\${pcfiledir}/${QUENVAR_PC_PREFIX}")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(QUENVAR_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quenvar.pc.in ${PROJECT_BINARY_DIR}/quenvar.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/quenvar.pc DESTINATION ${pc_dir})
else()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch_dir bin/x64)
  else()
    set(arch_dir bin/x86)
  endif()
  get_target_property(component_dir quenvar_component BINARY_DIR)
  # Files, not the target: a COM server has no import library for anyone to link.
  install(FILES $<TARGET_FILE:Quenvar> ${component_dir}/generated/Quenvar.manifest DESTINATION ${arch_dir})
  install(FILES ${component_dir}/generated/quenvar.tlb DESTINATION ${arch_dir} RENAME Quenvar.tlb)
  # The same text from either architecture's build.
  install(FILES ${component_dir}/generated/quenvar.h DESTINATION include RENAME quenvar_com.h)
  install(FILES ${component_dir}/generated/quenvar_i.c DESTINATION include RENAME quenvar_com_i.c)
endif()
