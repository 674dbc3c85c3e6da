# tarvo-update: the web update and the shell utilities (no Qt).
# The program's version is defined once, by project(... VERSION ...), and reaches the code through
# the generated header shell/Version.h (GetOwnVersion reads it).
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/Version.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/shell/Version.h @ONLY)

find_package(CURL REQUIRED)
add_library(tarvo-update STATIC
    HttpDownloader.cpp
    ShellUtilities.cpp
    SystemError.cpp
    UpdateProgress.cpp
    UpdaterLink.cpp
    WebUpdate.cpp
)
# A layer over tarvo-shell and the pattern engine: it sees their folders and its generated header.
target_include_directories(tarvo-update PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(tarvo-update PUBLIC tarvo-shell tarvo-pattern PRIVATE CURL::libcurl
                      nimbra-warnings)
target_compile_options(tarvo-update PRIVATE -Wshadow)

# tarvo-shell-ui: the progress window, the folder chooser and the window side of the web update.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_library(tarvo-shell-ui STATIC
    ui/CFolderDialog.cpp
    ui/CProgressDlg.cpp
    ui/WebUpdateLauncher.cpp
)
set_target_properties(tarvo-shell-ui PROPERTIES AUTOMOC ON)
target_link_libraries(tarvo-shell-ui PUBLIC tarvo-update Qt6::Widgets PRIVATE nimbra-warnings)
target_compile_options(tarvo-shell-ui PRIVATE -Wshadow)
