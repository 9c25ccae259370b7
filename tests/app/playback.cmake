# The video area and the window's playback commands, in real windows (Xvfb).
dashcam_add_test(tst_jtvideoview SOURCES tst_jtvideoview.cpp LIBS dashcam_app dashcam_resources)
dashcam_add_test(tst_mainwindow_playback SOURCES tst_mainwindow_playback.cpp LIBS dashcam_app)
