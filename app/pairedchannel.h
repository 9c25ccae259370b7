#pragma once

#include "channelpairs.h"

#include <QObject>
#include <QRect>

#include <memory>

class JtVideoView;
class OxFFPlayer;
class QToolButton;

// The second camera channel of what the window plays: found in the background, played by
// an engine of its own without sound whose clock follows the window's engine (the
// leader), and shown in the video area beside the first (picture in picture, side by
// side, or not at all: the layout, kept in configure.ini). A click on the small picture
// swaps the two; the layout button and cycleLayout step through the layouts.
//
// The leader plays on alone when nothing pairs or the paired files cannot be played (a
// message on standard error says so). stop() stops the second engine's threads; the
// window calls it whenever it stops the leader, and before its views are destroyed.
// GUI thread only.
class PairedChannel : public QObject
{
    Q_OBJECT
public:
    PairedChannel(JtVideoView *area, OxFFPlayer *leader, QObject *parent = nullptr);
    ~PairedChannel() override;

    // The leader has just opened the recording at path, or the clips of drive: the paired
    // channel is looked for, and played beside it once found.
    void followClip(const QString &path);
    void followDrive(const Drive &drive);
    // Plays pairing beside the leader from the leader's present time on. False, with a
    // message on standard error, when none of it can be played.
    bool play(const ChannelPairing &pairing);
    // Stops the second engine and shows the first channel alone; a search under way is
    // forgotten.
    void stop();

    // A second channel plays.
    bool isActive() const { return active; }
    // A search started by followClip or followDrive has not answered yet.
    bool isSearching() const { return awaited != 0; }
    const ChannelPairing &pairing() const { return current; }
    OxFFPlayer *follower() const { return second.get(); }

    int layout() const { return currentLayout; }
    // Shows and stores a ChannelLayout value.
    void setLayout(int layout);
    void cycleLayout();
    // The second channel large, the first small (or the other way back).
    void swap();
    bool isSwapped() const { return swapped; }

    // Saves what the video area shows as one JPEG: both pictures as placed, the larger
    // one at its full resolution. Only the large picture in the one-channel layout. False
    // when no picture is held or nothing could be written.
    bool screenshot(const QString &path);

    QToolButton *layoutButton() const { return button; }
    // Relabels the layout button from the language table.
    void retranslate();

signals:
    // The second channel started or stopped being shown.
    void activeChanged(bool active);

private:
    void onFound(quint64 request, const ChannelPairing &pairing);
    void onAreaClick(int button, double x, double y);
    void show();
    void placeButton();

    JtVideoView *area;
    OxFFPlayer *leader;
    std::unique_ptr<OxFFPlayer> second;
    ChannelPairFinder *finder = nullptr;
    QToolButton *button = nullptr;
    quint64 awaited = 0; // the finder's request being waited for; 0 for none
    ChannelPairing current;
    bool active = false;
    int currentLayout = 0;
    bool swapped = false;
};
