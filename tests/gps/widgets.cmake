# Trip display widgets: gauge, information panel and map view.
dashcam_add_test(tst_qmeter SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qmeter.cpp LIBS dashcam_gps
    ENV QT_QPA_PLATFORM=offscreen)
dashcam_add_test(tst_videoinfoview SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_videoinfoview.cpp
    LIBS dashcam_gps ENV QT_QPA_PLATFORM=offscreen)
