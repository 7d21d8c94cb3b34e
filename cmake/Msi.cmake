# Windows Installer packages built with wixl (Debian's wixl, from msitools).
#   spectro_add_msi(NAME OUTPUT VERSION)
# adds the target NAME (built by default) that packs spectrometer.exe,
# LIESMICH.txt and the marker of an installed copy into OUTPUT, a per-machine
# package of the given version for this build's architecture
# (app/spectrometer.wxs). Included by Packaging.cmake once the files exist.

find_program(WIXL wixl)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(spectro_msi_arch x64 Win64=yes ProgramFiles=ProgramFiles64Folder)
else()
  set(spectro_msi_arch x86 Win64=no ProgramFiles=ProgramFilesFolder)
endif()

function(spectro_add_msi name output version)
  if(NOT WIXL)
    message(STATUS "No wixl (Debian's wixl): no Windows Installer package ${name}")
    return()
  endif()
  list(GET spectro_msi_arch 0 arch)
  list(SUBLIST spectro_msi_arch 1 -1 arch_defines)
  set(defines)
  foreach(define ${arch_defines})
    list(APPEND defines -D ${define})
  endforeach()
  # wixl takes the files' paths relative to the .wxs file's folder only.
  set(wxs_dir ${PROJECT_SOURCE_DIR}/app)
  set(wxs ${wxs_dir}/spectrometer.wxs)
  file(RELATIVE_PATH readme ${wxs_dir} ${spectro_package_dir}/LIESMICH.txt)
  file(RELATIVE_PATH marker ${wxs_dir} ${spectro_package_dir}/spektrometer.installed)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${WIXL} -a ${arch} -D Version=${version} ${defines}
            -D Exe=$<PATH:RELATIVE_PATH,$<TARGET_FILE:spectrometer>,${wxs_dir}> -D Readme=${readme}
            -D Marker=${marker} -D Icon=spectrometer.ico -o ${output} ${wxs}
    DEPENDS spectrometer ${wxs} ${wxs_dir}/spectrometer.ico ${spectro_package_dir}/LIESMICH.txt
            ${spectro_package_dir}/spektrometer.installed
    COMMENT "Windows Installer package ${output}" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${output})
endfunction()
