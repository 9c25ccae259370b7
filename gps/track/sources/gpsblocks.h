#pragma once

#include "gpsrecord.h"

#include <QByteArray>
#include <QVector>

// Binary GPS blocks: a BE size, "freeGPS " and a layout told apart by fixed bytes.
// The block is whatever was read of it (its size field first); decoding never reads
// past it.
constexpr int kMinGpsBlock = 0x52;

// True when the block starts with a size equal to its length and "freeGPS ".
bool isGpsBlockHeader(const uchar *bytes, qint64 available, quint32 *size);

// Decodes one block: appends its records, counts what it dropped (blocks without
// a fix included) and returns the layout's name, or nullptr when no layout matched.
const char *decodeGpsBlock(const QByteArray &block, std::vector<GpsRecord> &records, int &skipped);

// The XOR-0xAA text form, whose 8-byte tag starts at start ("00 00 XKZD FE FE"
// once decoded). False when the text does not hold a fix.
bool decodeXorText(const GpsBytes &bytes, qint64 start, GpsRecord &record);

// Encrypted text records after the 12-byte magic at p; block is the whole block
// or sample (the magic's neighbourhood picks the coordinate factor).
void decodeTextRecords(const GpsBytes &bytes, qint64 p, std::vector<GpsRecord> &records,
                       int &skipped);

// One encrypted record's n bytes to plain text; nothing on an invalid control byte.
std::optional<QByteArray> decryptTextRecord(const uchar *data, qint64 n);
