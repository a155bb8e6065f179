# Precompiled headers: Qt and GStreamer are most of every unit's parse time. One set serves
# every library and program, one more (with QtTest) every test; the targets reuse them, so
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

set(BELVORAN_PCH_HEADERS
    <algorithm> <functional> <memory> <vector>
    <QByteArray> <QCoreApplication> <QDate> <QDateTime> <QDir> <QElapsedTimer> <QFile>
    <QFileInfo> <QHash> <QObject> <QPointer> <QSet> <QStandardPaths> <QString> <QStringList>
    <QTime> <QTimer> <QVariant> <QVector>
    <QColor> <QCursor> <QIcon> <QKeyEvent> <QMouseEvent> <QPainter> <QPixmap>
    <QApplication> <QCheckBox> <QComboBox> <QDialog> <QFrame> <QGroupBox> <QHeaderView>
    <QLabel> <QLineEdit> <QListWidget> <QMenu> <QMessageBox> <QTableWidget> <QWidget>
    <QSqlDatabase> <QSqlQuery>
    <gst/gst.h>)

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
    add_library(belvoran_pch STATIC ${CMAKE_CURRENT_LIST_DIR}/pch.cpp)
    # Qt Core's macros only, as every user has them; the other headers by their folders, so
    # that no macro a user lacks (QT_GUI_LIB, _REENTRANT) is defined here.
    target_link_libraries(belvoran_pch PRIVATE Qt6::Core)
    belvoran_pch_include_dirs(belvoran_pch Qt6::Widgets Qt6::Sql PkgConfig::GST)
    target_precompile_headers(belvoran_pch PRIVATE ${BELVORAN_PCH_HEADERS})
endif()

# Every library and program target in dir and below reuses belvoran_pch (the tests have
# their own, see tests/CMakeLists.txt).
function(belvoran_reuse_pch dir)
    if(NOT BELVORAN_PCH)
        return()
    endif()
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
        get_target_property(type ${t} TYPE)
        get_target_property(own ${t} PRECOMPILE_HEADERS)
        get_target_property(reuse ${t} PRECOMPILE_HEADERS_REUSE_FROM)
        if(NOT t STREQUAL "belvoran_pch" AND (type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "EXECUTABLE")
           AND NOT own AND NOT reuse)
            target_precompile_headers(${t} REUSE_FROM belvoran_pch)
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(d IN LISTS subdirs)
        belvoran_reuse_pch(${d})
    endforeach()
endfunction()

