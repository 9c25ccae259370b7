# Trip display widgets: gauge, seek slider, information panel and map view.
dashcam_add_test(tst_qmeter SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qmeter.cpp LIBS dashcam_tripview
    ENV QT_QPA_PLATFORM=offscreen)
dashcam_add_test(tst_videoinfoview SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_videoinfoview.cpp
    LIBS dashcam_tripview ENV QT_QPA_PLATFORM=offscreen)
# A real web engine: needs an X server (xvfb-run) and, as root, no sandbox.
dashcam_add_test(tst_oxmapwidget SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_oxmapwidget.cpp
    LIBS dashcam_tripview ENV QTWEBENGINE_DISABLE_SANDBOX=1)
add_dependencies(tst_oxmapwidget dashcam_map_files)
dashcam_add_test(tst_oxslider SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_oxslider.cpp LIBS dashcam_tripview
    ENV QT_QPA_PLATFORM=offscreen)
# The timeline strip on drives of real clips; local time is UTC+1.
dashcam_add_test(tst_timelinestrip SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_timelinestrip.cpp
    LIBS dashcam_tripview ENV QT_QPA_PLATFORM=offscreen TZ=CET-1)
