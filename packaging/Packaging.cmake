# The Debian package, built by CPack's DEB generator (scripts/package.sh): the tool (and
# tarvexctl where it is built), the udev rule, a desktop entry and icon, the manual pages, the
# copyright file and the changelog. Dependencies come from dpkg-shlibdeps. Included from the
# top-level CMakeLists.txt after the programs are defined.

set(package_dir ${CMAKE_CURRENT_LIST_DIR})
set(package_doc share/doc/tarvex)

set(packaged_programs tarvex)
if(TARGET tarvexctl)
    list(APPEND packaged_programs tarvexctl)
endif()

# Debian wants manual pages and changelogs compressed with gzip -9n (no name, no time stamp).
function(add_gzipped source output)
    add_custom_command(OUTPUT ${output}
        COMMAND gzip -9n -c ${source} > ${output}
        DEPENDS ${source} VERBATIM)
endfunction()
configure_file(${package_dir}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_gzipped(${CMAKE_BINARY_DIR}/packaging/changelog ${changelog})
set(manual_pages) # one for each program
foreach(program ${packaged_programs})
    set(page ${CMAKE_BINARY_DIR}/packaging/${program}.1.gz)
    add_gzipped(${package_dir}/${program}.1 ${page})
    list(APPEND manual_pages ${page})
endforeach()

# Everything the package holds, for a build that makes only that.
add_custom_target(tarvex_package_contents ALL DEPENDS ${manual_pages} ${changelog})
add_dependencies(tarvex_package_contents ${packaged_programs})

install(TARGETS ${packaged_programs} RUNTIME DESTINATION bin)
install(FILES ${package_dir}/70-tarvex-locator.rules DESTINATION lib/udev/rules.d)
install(FILES ${package_dir}/tarvex.desktop DESTINATION share/applications)
install(FILES ${package_dir}/tarvex.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${manual_pages} DESTINATION share/man/man1)
install(FILES ${package_dir}/copyright ${changelog} DESTINATION ${package_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tarvex_<version>_amd64.deb
set(CPACK_PACKAGE_CONTACT "Tarvex developers <developers@tarvex.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The first line is the synopsis; CPack indents the rest and writes an empty line as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "configure a USB HID locator
Tarvex reads the configuration of a USB HID locator (vendor 0x3F7C, product
0x5A21) into a window: OEM identifiers, location ID, message, antenna, power
and frequency settings. It writes changed settings and the factory defaults
back and verifies the device's answer field by field. The command tarvexctl
does the same from scripts and provisioning stations.

The package installs a udev rule that lets the user at the seat open the
locator without root.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${package_dir}/postinst ${package_dir}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
