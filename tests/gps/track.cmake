# Tests of the GPS track: parsing, coordinate correction and extraction.
dashcam_add_test(tst_nmea SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_nmea.cpp LIBS dashcam_track)
dashcam_add_test(tst_gpspoint SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_gpspoint.cpp LIBS dashcam_track)
dashcam_add_test(tst_gpsextract SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_gpsextract.cpp LIBS dashcam_track)
dashcam_add_test(tst_gpslayouts SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_gpslayouts.cpp LIBS dashcam_track)
dashcam_add_test(tst_dashcamtrack SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_dashcamtrack.cpp LIBS Qt5::Core)
add_dependencies(tst_dashcamtrack dashcam-track)
