# Items and queues, the stream reader and the JPEG export.
dashcam_add_test(tst_queue SOURCES tst_queue.cpp LIBS dashcam_player)
dashcam_add_test(tst_streamreader SOURCES tst_streamreader.cpp LIBS dashcam_player)
dashcam_add_test(tst_jpeg SOURCES tst_jpeg.cpp LIBS dashcam_player)
if(TARGET dashcam-probe)
    add_dependencies(tst_jpeg dashcam-probe)
endif()
