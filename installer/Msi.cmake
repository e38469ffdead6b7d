# VarnelKVM-<version>.msi, the Windows Installer package, built from
# VarnelKVM.wxs with wixl (Debian's msitools) when it is installed. Included
# by installer/CMakeLists.txt once the version block is read.
#
# The package that ships carries the 32-bit build. A 64-bit build (the tests'
# stand-in where the machine runs no 32-bit code) makes
# VarnelKVM-<version>-x64.msi instead: the same package with that build's
# binaries, the 64-bit Program Files folder and registry view.
#
# varnel_msi(FILE VERSION) builds the package as version VERSION into FILE;
# the tests use it for a package of a higher version. installer/build-msi.py
# runs wixl so that the same sources give the same package (its product and
# package codes are hashes of its content), and a signed build signs it.
find_program(WIXL wixl)
find_program(PYTHON3 python3)
if(NOT WIXL OR NOT PYTHON3)
  message(STATUS "wixl or python3 not found: no Windows Installer package (install wixl and python3 to build it)")
  unset(VARNEL_MSI_NAME CACHE)
  return()
endif()

# The package's custom actions: carried inside it, never installed.
add_library(EndRunningCopies MODULE EndRunningCopies.cpp DesktopStart.cpp)
set_target_properties(EndRunningCopies PROPERTIES PREFIX "")
target_link_libraries(EndRunningCopies PRIVATE msi ole32 oleaut32 uuid shell32 advapi32 wtsapi32)
# Windows Installer looks the entries up by their plain names, not the i386 EndRunningCopies@4.
target_link_options(EndRunningCopies PRIVATE ${STATIC_RUNTIME_FLAGS} -Wl,--kill-at)
varnel_ship(EndRunningCopies)

set(VARNEL_MSI_TARGET x86)
set(VARNEL_MSI_NAME VarnelKVM-${VARNEL_VERSION}.msi)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VARNEL_MSI_TARGET x64)
  set(VARNEL_MSI_NAME VarnelKVM-${VARNEL_VERSION}-x64.msi)
endif()
set(VARNEL_MSI_TARGET ${VARNEL_MSI_TARGET} CACHE INTERNAL "")
set(VARNEL_MSI_NAME ${VARNEL_MSI_NAME} CACHE INTERNAL "")
set(VARNEL_MSI_VERSION ${VARNEL_VERSION} CACHE INTERNAL "")
set(VARNEL_MSI_PUBLISHER ${VARNEL_PUBLISHER} CACHE INTERNAL "")

function(varnel_msi file version)
  # Windows Installer tells versions apart by their first three parts only.
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)" _ "${version}")
  math(EXPR next_build "${CMAKE_MATCH_3} + 1")
  # wixl finds its sources only below the folder it runs in: paths relative to the build.
  file(RELATIVE_PATH bin ${CMAKE_BINARY_DIR} ${VARNEL_PAYLOAD_DIR})
  file(RELATIVE_PATH icon ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/TrayApp/res/icons/attached.ico)
  set(sign)
  if(VARNEL_SIGN_COMMAND)
    set(sign COMMAND ${VARNEL_SIGN_COMMAND} ${file})
  endif()
  add_custom_command(OUTPUT ${file}
    COMMAND ${PYTHON3} ${PROJECT_SOURCE_DIR}/installer/build-msi.py ${file}
            ${WIXL} --arch ${VARNEL_MSI_TARGET}
            -D Target=${VARNEL_MSI_TARGET}
            -D Version=${version}
            -D NextVersion=${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${next_build}
            -D "Publisher=${VARNEL_MSI_PUBLISHER}"
            -D BinDir=${bin}
            -D ActionsDll=${bin}/EndRunningCopies.dll
            -D Icon=${icon}
            ${PROJECT_SOURCE_DIR}/installer/VarnelKVM.wxs
    ${sign}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS VarnelKVM Quillhook EndRunningCopies ${PROJECT_SOURCE_DIR}/installer/VarnelKVM.wxs
            ${PROJECT_SOURCE_DIR}/installer/build-msi.py
            ${PROJECT_SOURCE_DIR}/TrayApp/res/Version.rc ${PROJECT_SOURCE_DIR}/TrayApp/res/icons/attached.ico
    COMMENT "Building ${file}"
    VERBATIM)
endfunction()

varnel_msi(${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${VARNEL_MSI_NAME} ${VARNEL_VERSION})
add_custom_target(Msi ALL DEPENDS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${VARNEL_MSI_NAME})
