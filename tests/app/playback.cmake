# The video area and the window's playback commands, in real windows (Xvfb).
dashcam_add_test(tst_jtvideoview SOURCES tst_jtvideoview.cpp LIBS dashcam_app dashcam_resources)
dashcam_add_test(tst_mainwindow_playback SOURCES tst_mainwindow_playback.cpp LIBS dashcam_app)
# The same commands with no sound device: playback goes on silently.
add_test(NAME tst_mainwindow_playback_nosound COMMAND tst_mainwindow_playback)
set_tests_properties(tst_mainwindow_playback_nosound PROPERTIES TIMEOUT 300
    ENVIRONMENT "PULSE_SERVER=unix:/nonexistent")
