# Items and queues, the stream reader and the JPEG export.
dashcam_add_test(tst_queue SOURCES tst_queue.cpp LIBS dashcam_media)
dashcam_add_test(tst_streamreader SOURCES tst_streamreader.cpp LIBS dashcam_media Qt5::Network)
dashcam_add_test(tst_jpeg SOURCES tst_jpeg.cpp LIBS dashcam_media Qt5::Gui)
if(TARGET dashcam-probe)
    add_dependencies(tst_jpeg dashcam-probe)
endif()
