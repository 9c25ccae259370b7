#include "oxmediadata.h"
#include "oxqueue.h"

#include <QThread>
#include <QVector>
#include <QtTest>

#include <atomic>

namespace {

QVector<void *> g_released;

void recordRelease(void *item)
{
    g_released.append(item);
}

std::atomic<int> g_destroyed{0};

class CountedItem : public OxMediaData
{
public:
    explicit CountedItem(int v) : value(v) {}
    ~CountedItem() override { ++g_destroyed; }
    int value;
};

void destroyItem(void *item)
{
    delete static_cast<OxMediaData *>(item);
}

// The value a test picture holds at (row, column) of a plane, padding excluded.
uint8_t pattern(int plane, int row, int column)
{
    return uint8_t((plane * 71 + row * 13 + column * 7) % 200);
}

const uint8_t kPadding = 0xEE; // never produced by pattern()

} // namespace

class tst_queue : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_released.clear(); }

    void emptyQueue()
    {
        OxQueue queue(recordRelease);
        QCOMPARE(queue.pop(), nullptr);
        QCOMPARE(queue.front(), nullptr);
        QCOMPARE(queue.back(), nullptr);
        QCOMPARE(queue.size(), 0);
        QCOMPARE(queue.firstNode(), nullptr);
        queue.clear();
        QCOMPARE(queue.size(), 0);
        QVERIFY(g_released.isEmpty());
    }

    void fifoOrder()
    {
        int a = 1, b = 2, c = 3;
        OxQueue queue(recordRelease);
        queue.push(&a);
        queue.push(&b);
        QCOMPARE(queue.pop(), &a);
        queue.push(&c);
        QCOMPARE(queue.size(), 2);
        QCOMPARE(queue.front(), &b);
        QCOMPARE(queue.back(), &c);
        QCOMPARE(queue.firstNode()->item, &b);
        QCOMPARE(queue.firstNode()->next, queue.lastNode());
        QCOMPARE(queue.pop(), &b);
        QCOMPARE(queue.pop(), &c);
        // The tail must be forgotten with the last node, or back() would dangle.
        QCOMPARE(queue.back(), nullptr);
        QCOMPARE(queue.lastNode(), nullptr);
        QCOMPARE(queue.size(), 0);
        queue.push(&a);
        QCOMPARE(queue.front(), &a);
        QCOMPARE(queue.back(), &a);
        QCOMPARE(queue.pop(), &a);
        QVERIFY(g_released.isEmpty());
    }

    void releaseOnlyWhatIsHeld()
    {
        int items[5] = {0, 1, 2, 3, 4};
        {
            OxQueue queue(recordRelease);
            for (int &item : items)
                queue.push(&item);
            QCOMPARE(queue.pop(), &items[0]);
            QCOMPARE(queue.pop(), &items[1]);
            queue.clear();
            QCOMPARE(g_released, (QVector<void *>{&items[2], &items[3], &items[4]}));
            QCOMPARE(queue.size(), 0);
            QCOMPARE(queue.front(), nullptr);

            // Still usable after clear; the destructor releases what is left, once.
            g_released.clear();
            queue.push(&items[0]);
            queue.push(&items[1]);
            QCOMPARE(queue.pop(), &items[0]);
        }
        QCOMPARE(g_released, QVector<void *>{&items[1]});

        // Without a release function only the nodes go.
        g_released.clear();
        OxQueue plain(nullptr);
        plain.push(&items[0]);
        plain.clear();
        QCOMPARE(plain.size(), 0);
        QVERIFY(g_released.isEmpty());
    }

    void mutexQueueDestroysItemsThroughBase()
    {
        g_destroyed = 0;
        {
            MutexQueue queue(destroyItem);
            for (int i = 0; i < 4; ++i)
                queue.push(new CountedItem(i));
            auto *first = static_cast<CountedItem *>(queue.pop());
            QCOMPARE(first->value, 0);
            delete first;
            QCOMPARE(g_destroyed.load(), 1);
            QCOMPARE(queue.size(), 3);
            QCOMPARE(static_cast<CountedItem *>(queue.front())->value, 1);
            QCOMPARE(static_cast<CountedItem *>(queue.back())->value, 3);
        }
        QCOMPARE(g_destroyed.load(), 4);

        g_destroyed = 0;
        auto *queue = new MutexQueue(destroyItem);
        queue->push(new CountedItem(7));
        queue->clear();
        QCOMPARE(g_destroyed.load(), 1);
        delete queue;
        QCOMPARE(g_destroyed.load(), 1);
    }

    void mutexQueueAcrossThreads()
    {
        // One producer and one consumer, as the engine uses it: every item arrives once,
        // in order, and nothing is lost while the other side is mid-operation.
        const int total = 20000;
        static int values[total];
        MutexQueue queue(nullptr);
        QThread *producer = QThread::create([&queue] {
            for (int i = 0; i < total; ++i) {
                values[i] = i;
                queue.push(&values[i]);
                while (queue.size() > 64)
                    QThread::yieldCurrentThread();
            }
        });
        producer->start();
        int expected = 0;
        bool inOrder = true;
        QElapsedTimer timer;
        timer.start();
        while (expected < total && timer.elapsed() < 60000) {
            void *item = queue.pop();
            if (!item) {
                QThread::yieldCurrentThread();
                continue;
            }
            inOrder = inOrder && *static_cast<int *>(item) == expected;
            ++expected;
        }
        QVERIFY(producer->wait(60000));
        delete producer;
        QVERIFY(inOrder);
        QCOMPARE(expected, total);
        QCOMPARE(queue.size(), 0);
    }

    void yuvCopiesRows_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("padding"); // extra bytes at the end of every source row, -1: packed
        QTest::newRow("packed 8x6") << 8 << 6 << -1;
        QTest::newRow("packed odd 7x5") << 7 << 5 << -1;
        QTest::newRow("padded 320x240") << 320 << 240 << 32;
        QTest::newRow("padded odd 33x17") << 33 << 17 << 15;
        QTest::newRow("padded 1x1") << 1 << 1 << 63;
        QTest::newRow("exact line sizes") << 16 << 2 << 0;
    }

    void yuvCopiesRows()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, padding);
        const int cw = width / 2;
        const int ch = height / 2;
        const bool packed = padding < 0;
        // Source chroma as FFmpeg lays it out: rounded-up size, so odd pictures have an
        // extra column and row the copy must drop.
        const int sourceWidth[3] = {width, (width + 1) / 2, (width + 1) / 2};
        const int sourceRows[3] = {height, (height + 1) / 2, (height + 1) / 2};
        int lineSizes[3];
        QVector<uint8_t> source[3];
        const int packedWidth[3] = {width, cw, cw};
        const int packedRows[3] = {height, ch, ch};
        for (int p = 0; p < 3; ++p) {
            const int columns = packed ? packedWidth[p] : sourceWidth[p];
            const int rows = packed ? packedRows[p] : sourceRows[p];
            lineSizes[p] = packed ? columns : columns + padding;
            source[p].fill(kPadding, lineSizes[p] * rows);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < columns; ++c)
                    source[p][r * lineSizes[p] + c] = pattern(p, r, c);
        }
        const uint8_t *planes[3] = {source[0].constData(), source[1].constData(),
                                    source[2].constData()};
        OxYUV420P picture(planes, width, height, packed ? nullptr : lineSizes);
        QCOMPARE(picture.width, width);
        QCOMPARE(picture.height, height);

        const uint8_t *copies[3] = {picture.y, picture.u, picture.v};
        for (int p = 0; p < 3; ++p) {
            for (int r = 0; r < packedRows[p]; ++r) {
                for (int c = 0; c < packedWidth[p]; ++c) {
                    const uint8_t got = copies[p][r * packedWidth[p] + c];
                    if (got != pattern(p, r, c))
                        QFAIL(qPrintable(QStringLiteral("plane %1 row %2 column %3: %4, want %5")
                                             .arg(p)
                                             .arg(r)
                                             .arg(c)
                                             .arg(got)
                                             .arg(pattern(p, r, c))));
                }
            }
        }
    }

    void audioBuffers_data()
    {
        QTest::addColumn<int>("size0");
        QTest::addColumn<int>("size1");
        QTest::newRow("interleaved") << 4096 << 0;
        QTest::newRow("planar") << 2048 << 2048;
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("negative sizes") << -5 << 16;
    }

    void audioBuffers()
    {
        QFETCH(int, size0);
        QFETCH(int, size1);
        OxAudioData chunk(size0, size1);
        QCOMPARE(chunk.size[0], qMax(size0, 0));
        QCOMPARE(chunk.size[1], qMax(size1, 0));
        QCOMPARE(chunk.data[0] != nullptr, size0 > 0);
        QCOMPARE(chunk.data[1] != nullptr, size1 > 0);
        // The whole buffer is writable (AddressSanitizer checks the bounds).
        for (int i = 0; i < 2; ++i)
            if (chunk.data[i])
                memset(chunk.data[i], 0x5A, size_t(chunk.size[i]));
    }
};

QTEST_GUILESS_MAIN(tst_queue)
#include "tst_queue.moc"
