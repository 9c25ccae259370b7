# Tests of the player engine and its sound output.
dashcam_add_test(tst_oxffplayer SOURCES tst_oxffplayer.cpp recordingsink.h soundserver.h LIBS dashcam_player)
dashcam_add_test(tst_audio SOURCES tst_audio.cpp soundserver.h LIBS dashcam_player)
dashcam_add_test(tst_playernosound SOURCES tst_playernosound.cpp recordingsink.h
    LIBS dashcam_player ENV "PULSE_SERVER=unix:/nonexistent")
