# Fails when a source file includes a header of a layer above its own, or when code below the
# window includes Qt. Run as: cmake -DROOT=<repository> -P CheckLayering.cmake
#
cmake_minimum_required(VERSION 3.25)

# Each layer lists the layers it may include; a layer may always include itself.
set(layers
    platform/base
    platform/device
    platform/win32
    platform/uithread
    platform/hidclass
    platform/sources
    hid
    locator
    ledger
    cli
    ui
    app)
set(allowed_platform/base "")
set(allowed_platform/device "")
set(allowed_platform/win32 platform/device)
set(allowed_platform/uithread platform/win32 platform/device)
set(allowed_platform/hidclass platform/win32 platform/device)
set(allowed_platform/sources platform/base platform/device platform/win32 platform/uithread
    platform/hidclass)
set(platform_layers platform/base platform/device platform/win32 platform/uithread
    platform/hidclass platform/sources)
set(allowed_hid ${platform_layers})
set(allowed_locator ${platform_layers} hid)
# The ledger is a client of the database server only: it knows nothing of devices.
set(allowed_ledger "")
set(allowed_cli ${platform_layers} hid locator ledger)
set(allowed_ui ${platform_layers} hid locator)
set(allowed_app ${platform_layers} hid locator ui)
# Qt is the window's business; below it only the event-loop adapter may use it.
set(qt_free platform hid locator ledger cli)
set(qt_adapter platform/uithread/QtEventLoop)

cmake_minimum_required(VERSION 3.25)

function(layer_of path out)
    set(found "")
    foreach(layer ${layers})
        string(LENGTH "${layer}/" length)
        string(SUBSTRING "${path}" 0 ${length} prefix)
        if(prefix STREQUAL "${layer}/")
            set(found ${layer})
        endif()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(violations 0)
foreach(layer ${layers})
    file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${layer}/*.h ${ROOT}/${layer}/*.cpp)
    foreach(source ${sources})
        file(STRINGS ${ROOT}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
        foreach(line ${includes})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*" "\\1" header "${line}")
            layer_of("${header}" target)
            if(target AND NOT target STREQUAL layer AND NOT target IN_LIST allowed_${layer})
                message(SEND_ERROR "${source}: includes ${header}, a layer above ${layer}")
                math(EXPR violations "${violations} + 1")
            endif()
            string(REGEX MATCH "^(Q[A-Za-z]*|Qt[A-Za-z]*/.*)$" qt_header "${header}")
            string(REGEX MATCH "^[a-z]+" top "${source}")
            string(REGEX REPLACE "\\.(h|cpp)$" "" stem "${source}")
            if(qt_header AND top IN_LIST qt_free AND NOT stem STREQUAL qt_adapter)
                message(SEND_ERROR "${source}: includes Qt (${header}) below the window")
                math(EXPR violations "${violations} + 1")
            endif()
        endforeach()
    endforeach()
endforeach()
if(violations GREATER 0)
    message(FATAL_ERROR "${violations} include(s) against the layering")
endif()
message(STATUS "layering: no include runs against the layers")
