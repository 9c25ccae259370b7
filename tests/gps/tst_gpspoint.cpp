#include "gpspoint.h"

#include <QtTest>

#include <cmath>

class tst_gpspoint : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
    void boxBounds_data();
    void boxBounds();
    void notANumber();
};

static QString six(double v)
{
    return QString::number(v, 'f', 6);
}

void tst_gpspoint::convert_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lng");
    QTest::addColumn<double>("gcjLat");
    QTest::addColumn<double>("gcjLng");
    QTest::addColumn<double>("bdLat");
    QTest::addColumn<double>("bdLng");
    QTest::newRow("shanghai") << 31.23 << 121.47 << 31.228067 << 121.474535 << 31.233987
                              << 121.481076;
    QTest::newRow("outside china still shifted by bd-09")
        << 48.1173 << 11.516667 << 48.1173 << 11.516667 << 48.123331 << 11.523024;
    QTest::newRow("origin") << 0.0 << 0.0 << 0.0 << 0.0 << 0.006 << 0.0065;
}

void tst_gpspoint::convert()
{
    QFETCH(double, lat);
    QFETCH(double, lng);
    QFETCH(double, gcjLat);
    QFETCH(double, gcjLng);
    QFETCH(double, bdLat);
    QFETCH(double, bdLng);

    GPSPoint input;
    input.lat = lat;
    input.lng = lng;
    const GPSPoint gcj = wgs84ToGcj02(input);
    QCOMPARE(six(gcj.lat), six(gcjLat));
    QCOMPARE(six(gcj.lng), six(gcjLng));
    const GPSPoint direct(lat, lng);
    QCOMPARE(direct.lat, gcj.lat);
    QCOMPARE(direct.lng, gcj.lng);

    const GPSPoint bd = gcj02ToBd09(gcj);
    QCOMPARE(six(bd.lat), six(bdLat));
    QCOMPARE(six(bd.lng), six(bdLng));
}

void tst_gpspoint::boxBounds_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lng");
    QTest::addColumn<bool>("converted");
    QTest::newRow("west bound") << 30.0 << 72.004 << true;
    QTest::newRow("east bound") << 30.0 << 137.8347 << true;
    QTest::newRow("south bound") << 0.8293 << 110.0 << true;
    QTest::newRow("north bound") << 55.8271 << 110.0 << true;
    QTest::newRow("west of the box") << 30.0 << 72.0039 << false;
    QTest::newRow("east of the box") << 30.0 << 137.8348 << false;
    QTest::newRow("south of the box") << 0.8292 << 110.0 << false;
    QTest::newRow("north of the box") << 55.8272 << 110.0 << false;
}

void tst_gpspoint::boxBounds()
{
    QFETCH(double, lat);
    QFETCH(double, lng);
    QFETCH(bool, converted);
    const GPSPoint p(lat, lng);
    QCOMPARE(p.lat != lat || p.lng != lng, converted);
}

// NaN compares false with every bound, so it is taken as inside the box and
// comes out as NaN rather than as a made-up position.
void tst_gpspoint::notANumber()
{
    const GPSPoint p(std::nan(""), 121.0);
    QVERIFY(std::isnan(p.lat));
    const GPSPoint q(31.0, std::nan(""));
    QVERIFY(std::isnan(q.lng));
    GPSPoint r;
    QCOMPARE(r.lat, 0.0);
    QCOMPARE(r.lng, 0.0);
}

QTEST_APPLESS_MAIN(tst_gpspoint)
#include "tst_gpspoint.moc"
