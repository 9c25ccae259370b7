# The OpenGL picture view, drawn in a real window (Xvfb).
dashcam_add_test(tst_oxvideoview SOURCES tst_oxvideoview.cpp LIBS dashcam_player)
