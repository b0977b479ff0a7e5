# cmake -DBUILD_DIR=<build tree> -DINSTALL_DIR=<empty scratch dir> -P InstallLayout.cmake
# Installs the build into INSTALL_DIR and checks that exactly the program's files are there:
# nothing missing, and nothing that only tests or benchmarks use.
file(REMOVE_RECURSE ${INSTALL_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${INSTALL_DIR}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    bin/vitalon
    bin/vitalon-sim
    share/applications/io.github.vitalon.Vitalon.desktop
    share/doc/vitalon/LICENSE
    share/doc/vitalon/README.md
    share/icons/hicolor/scalable/apps/vitalon.svg
    share/man/man1/vitalon-sim.1.gz
    share/man/man1/vitalon.1.gz
    share/metainfo/io.github.vitalon.Vitalon.metainfo.xml)
foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/vitalon.png)
endforeach()

file(GLOB_RECURSE installed RELATIVE ${INSTALL_DIR} ${INSTALL_DIR}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${installed})
    set(extra ${installed})
    list(REMOVE_ITEM extra ${expected})
    message(FATAL_ERROR "Installed files differ.\nMissing: ${missing}\nNot expected: ${extra}")
endif()

# The installed programs start from there.
foreach(program vitalon vitalon-sim)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                            ${INSTALL_DIR}/bin/${program} --version
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_QUIET)
    if(NOT result EQUAL 0 OR NOT output MATCHES "^${program} ")
        message(FATAL_ERROR "bin/${program} --version: exit ${result}, \"${output}\"")
    endif()
endforeach()
file(REMOVE_RECURSE ${INSTALL_DIR})
