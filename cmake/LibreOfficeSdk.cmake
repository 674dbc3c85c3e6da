# The LibreOffice C++ UNO SDK: the URE libraries, the SDK's base headers, and the office API
# headers that cppumaker generates at build time from the office's type libraries (the Debian
# packages ship the type libraries, not the generated headers).
#
# Sets LibreOfficeSdk_FOUND and LIBREOFFICE_PROGRAM_DIR, and provides
#   libreoffice_uno_target(<name>)
# which makes an INTERFACE target carrying the generated headers (every type of the office API:
# a few seconds once, and no list of types to keep in step with the code, since cppumaker does
# not follow a listed type's dependencies) as system includes, the compile definitions the URE
# headers expect, and the link options, plus a target <name>-generate that users must depend on.
# System includes keep the URE headers out of our warnings.

set(LIBREOFFICE_ROOT "/usr/lib/libreoffice" CACHE PATH "Installation folder of LibreOffice")
set(LIBREOFFICE_PROGRAM_DIR "${LIBREOFFICE_ROOT}/program")

find_program(LIBREOFFICE_CPPUMAKER cppumaker PATHS "${LIBREOFFICE_ROOT}/sdk/bin" NO_DEFAULT_PATH)
find_path(LIBREOFFICE_INCLUDE_DIR cppuhelper/bootstrap.hxx
    PATHS /usr/include/libreoffice "${LIBREOFFICE_ROOT}/sdk/include")
find_library(LIBREOFFICE_CPPUHELPER uno_cppuhelpergcc3 PATHS "${LIBREOFFICE_ROOT}/sdk/lib" NO_DEFAULT_PATH)
find_library(LIBREOFFICE_CPPU uno_cppu PATHS "${LIBREOFFICE_ROOT}/sdk/lib" NO_DEFAULT_PATH)
find_library(LIBREOFFICE_SAL uno_sal PATHS "${LIBREOFFICE_ROOT}/sdk/lib" NO_DEFAULT_PATH)
find_file(LIBREOFFICE_TYPES_RDB types.rdb PATHS "${LIBREOFFICE_PROGRAM_DIR}" NO_DEFAULT_PATH)
find_file(LIBREOFFICE_OFFAPI_RDB offapi.rdb PATHS "${LIBREOFFICE_PROGRAM_DIR}/types" NO_DEFAULT_PATH)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LibreOfficeSdk
    REQUIRED_VARS LIBREOFFICE_CPPUMAKER LIBREOFFICE_INCLUDE_DIR LIBREOFFICE_CPPUHELPER
                  LIBREOFFICE_CPPU LIBREOFFICE_SAL LIBREOFFICE_TYPES_RDB LIBREOFFICE_OFFAPI_RDB)

function(libreoffice_uno_target name)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${name}-headers")
    set(stamp "${out}/.stamp")
    add_custom_command(
        OUTPUT "${stamp}"
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${out}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${out}"
        COMMAND "${LIBREOFFICE_CPPUMAKER}" -Gc "-O${out}"
                "${LIBREOFFICE_TYPES_RDB}" "${LIBREOFFICE_OFFAPI_RDB}"
        COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
        DEPENDS "${LIBREOFFICE_TYPES_RDB}" "${LIBREOFFICE_OFFAPI_RDB}"
        COMMENT "Generating the office API headers for ${name}"
        VERBATIM)
    add_custom_target(${name}-generate DEPENDS "${stamp}")

    add_library(${name} INTERFACE)
    target_include_directories(${name} SYSTEM INTERFACE "${out}" "${LIBREOFFICE_INCLUDE_DIR}")
    target_compile_definitions(${name} INTERFACE LINUX UNX GCC CPPU_ENV=gcc3)
    # The UNO interfaces' type information lives in the office's own libraries, which the
    # sanitizer did not build: its dynamic-type check would take every UNO reference for a wrong
    # type. The address checks stay on.
    if(NIMBRA_SANITIZE)
        target_compile_options(${name} INTERFACE -fno-sanitize=vptr)
    endif()
    target_link_libraries(${name} INTERFACE
        "${LIBREOFFICE_CPPUHELPER}" "${LIBREOFFICE_CPPU}" "${LIBREOFFICE_SAL}")
    target_link_options(${name} INTERFACE
        "LINKER:-rpath-link,${LIBREOFFICE_PROGRAM_DIR}" "LINKER:-rpath,${LIBREOFFICE_PROGRAM_DIR}")
endfunction()
