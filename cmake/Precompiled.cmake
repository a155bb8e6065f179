# SPDX-License-Identifier: GPL-3.0-or-later
# Precompiled headers: Qt and GStreamer are most of every unit's parse time. Two sets serve
# the libraries and programs, one more (with QtTest) every test; the targets reuse them, so
# each is compiled once per build. GCC takes a precompiled header only when the macros it
# mentions are defined alike, so the owner targets carry the same Qt defines as their users
# (CMake adds -Winvalid-pch: a header set that does not fit says so in the build log).
option(BELVORAN_PCH "Precompile the Qt and GStreamer headers" ON)

# ccache caches units that use a precompiled header only when told the header's macros and
# time stamps may be taken as they are.
if(BELVORAN_PCH AND CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
        "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
        ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()

# Two sets for the libraries and programs: without Gui and Widgets for what does not link
# them (QApplication's header would change what qApp means there), and with them.
set(BELVORAN_PCH_CORE_HEADERS
    <algorithm> <functional> <memory> <vector>
    <QByteArray> <QCoreApplication> <QDate> <QDateTime> <QDir> <QElapsedTimer> <QFile>
    <QFileInfo> <QHash> <QObject> <QPointer> <QSet> <QStandardPaths> <QString> <QStringList>
    <QTime> <QTimer> <QVariant> <QVector>
    <QSqlDatabase> <QSqlQuery>
    <gst/gst.h>)
set(BELVORAN_PCH_GUI_HEADERS
    <QColor> <QCursor> <QIcon> <QKeyEvent> <QMouseEvent> <QPainter> <QPixmap>
    <QApplication> <QCheckBox> <QComboBox> <QDialog> <QFrame> <QGroupBox> <QHeaderView>
    <QLabel> <QLineEdit> <QListWidget> <QMenu> <QMessageBox> <QTableWidget> <QWidget>)
set(BELVORAN_PCH_HEADERS ${BELVORAN_PCH_CORE_HEADERS} ${BELVORAN_PCH_GUI_HEADERS})

# Gives target the include folders of libs without their macros and options.
function(belvoran_pch_include_dirs target)
    foreach(lib IN LISTS ARGN)
        target_include_directories(${target} SYSTEM PRIVATE
                                   $<TARGET_PROPERTY:${lib},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
endfunction()

if(BELVORAN_PCH)
    # GStreamer's flags bring -pthread (_REENTRANT, which the C library's headers read) to
    # the units that use it; with it everywhere one header set fits every unit.
    add_compile_options(-pthread)
    # Qt Core's macros only, as every user has them; the other headers by their folders, so
    # that no macro a user lacks (QT_GUI_LIB) is defined here.
    add_library(belvoran_pch_core STATIC ${CMAKE_CURRENT_LIST_DIR}/pch.cpp)
    target_link_libraries(belvoran_pch_core PRIVATE Qt6::Core)
    belvoran_pch_include_dirs(belvoran_pch_core Qt6::Sql PkgConfig::GST)
    target_precompile_headers(belvoran_pch_core PRIVATE ${BELVORAN_PCH_CORE_HEADERS})
    add_library(belvoran_pch_gui STATIC ${CMAKE_CURRENT_LIST_DIR}/pch.cpp)
    target_link_libraries(belvoran_pch_gui PRIVATE Qt6::Core)
    belvoran_pch_include_dirs(belvoran_pch_gui Qt6::Widgets Qt6::Sql PkgConfig::GST)
    target_precompile_headers(belvoran_pch_gui PRIVATE ${BELVORAN_PCH_HEADERS})
endif()

# AUTOMOC's mocs_compilation.cpp is empty where the sources include their moc output: loading
# a header set of hundreds of megabytes costs it far more than the few moc files it may hold.
function(belvoran_pch_skip_mocs target)
    get_target_property(bin ${target} BINARY_DIR)
    set_source_files_properties(${bin}/${target}_autogen/mocs_compilation.cpp
                                TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()

# Every library and program target in dir and below without a header set of its own reuses
# pch (the tests have their own, see tests/CMakeLists.txt).
function(belvoran_reuse_pch dir pch)
    if(NOT BELVORAN_PCH)
        return()
    endif()
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
        get_target_property(type ${t} TYPE)
        get_target_property(own ${t} PRECOMPILE_HEADERS)
        get_target_property(reuse ${t} PRECOMPILE_HEADERS_REUSE_FROM)
        if((type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "EXECUTABLE") AND NOT own AND NOT reuse)
            target_precompile_headers(${t} REUSE_FROM ${pch})
            belvoran_pch_skip_mocs(${t})
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(d IN LISTS subdirs)
        belvoran_reuse_pch(${d} ${pch})
    endforeach()
endfunction()

