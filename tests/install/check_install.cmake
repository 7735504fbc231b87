# Installs the build into a scratch prefix and checks that every file lands
# where the desktop, AppStream, man and systemd look for it.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWITH_PROGRAMS=ON|OFF -P check_install.cmake
set(prefix ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${error}")
endif()

set(expected
    share/applications/example.framelog.Framelog.desktop
    share/icons/hicolor/scalable/apps/example.framelog.Framelog.svg
    share/icons/hicolor/16x16/apps/example.framelog.Framelog.svg
    share/metainfo/example.framelog.Framelog.metainfo.xml
    lib/systemd/user/framelog-record@.service
    share/man/man1/framelog.1.gz
    share/man/man1/framelog-record.1.gz
    share/doc/framelog/copyright
    share/doc/framelog/changelog.gz
    share/man/man1/framelog-timelapse.1.gz
    bin/framelog-timelapse)
if(WITH_PROGRAMS)
    list(APPEND expected bin/framelog bin/framelog-record)
endif()
foreach(file IN LISTS expected)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# The unit records the instance's recipe with the installed recorder.
file(READ ${prefix}/lib/systemd/user/framelog-record@.service unit)
string(FIND "${unit}" "\nExecStart=${prefix}/bin/framelog-record --recipe %E/framelog/%i.ini\n"
    at)
if(at LESS 0)
    message(FATAL_ERROR "the unit does not start the recorder on $XDG_CONFIG_HOME/framelog/%i.ini")
endif()

# The manual pages format without a warning.
foreach(page framelog framelog-record framelog-timelapse)
    execute_process(COMMAND gzip -dc ${prefix}/share/man/man1/${page}.1.gz
        COMMAND groff -man -Tutf8 -ww -z
        RESULT_VARIABLE result ERROR_VARIABLE warnings)
    if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
        message(FATAL_ERROR "${page}.1: ${warnings}")
    endif()
endforeach()

# The changelog is the package's: its newest entry is this version.
execute_process(COMMAND gzip -dc ${prefix}/share/doc/framelog/changelog.gz
    OUTPUT_VARIABLE changelog)
if(NOT changelog MATCHES "^framelog \\(${VERSION}\\) ")
    message(FATAL_ERROR "data/debian/changelog does not begin with version ${VERSION}")
endif()
file(REMOVE_RECURSE ${prefix})
