#include "platform/PropertyList.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QPoint>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::PropertyList;

namespace {

QString q(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

uint64_t bitsOf(double d) {
    return std::bit_cast<uint64_t>(d);
}

// A binary property list of `n` objects; object i is an array holding object i+1 (the last is
// empty), or, with `cycle`, the last one holds object 0 again. With `twice`, each array holds
// its successor twice: a tiny file whose expanded tree has 2^n nodes.
QByteArray nestedBinary(quint32 n, bool cycle = false, bool twice = false) {
    QByteArray out("bplist00");
    std::vector<quint32> offsets;
    auto be = [](QByteArray& a, quint64 v, int width) {
        for (int i = width - 1; i >= 0; --i) a.append(char((v >> (8 * i)) & 0xFF));
    };
    for (quint32 i = 0; i < n; ++i) {
        offsets.push_back(quint32(out.size()));
        if (i + 1 < n) {
            out.append(char(twice ? 0xA2 : 0xA1));
            be(out, i + 1, 4);
            if (twice) be(out, i + 1, 4);
        } else if (cycle) {
            out.append(char(0xA1));
            be(out, 0, 4);
        } else {
            out.append(char(0xA0));
        }
    }
    const quint64 table = quint64(out.size());
    for (quint32 o : offsets) be(out, o, 4);
    out.append(QByteArray(6, '\0'));
    out.append(char(4));  // offset size
    out.append(char(4));  // reference size
    be(out, n, 8);
    be(out, 0, 8);
    be(out, table, 8);
    return out;
}

QByteArray nestedXml(int n) {
    QByteArray s("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">");
    for (int i = 0; i < n; ++i) s += "<array>";
    for (int i = 0; i < n; ++i) s += "</array>";
    return s + "</plist>";
}

}  // namespace

TEST(PropertyList, RoundTripsEveryTypeAndRealsToTheBit) {
    const float third = 1.3333334f;
    QVariantMap inner;
    inner["third"] = QVariant::fromValue(third);  // written as the float's double value
    inner["sum"] = 0.1 + 0.2;
    inner["tiny"] = 5e-324;
    inner["negZero"] = -0.0;
    inner["big"] = 1.7976931348623157e308;
    QVariantMap root;
    root["reals"] = inner;
    root["list"] = QVariantList{qint64(-3), qint64(9007199254740993LL), true, false, QString()};
    root["text"] = QString::fromUtf8("<&>\"' \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA5 \t end");
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) bytes.append(char(i));
    root["data"] = bytes;
    root["date"] = QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7), QTimeZone::utc());
    root["empty"] = QVariantList{};
    root["emptyMap"] = QVariantMap{};

    QString error;
    const auto xml = PropertyList::toXml(root, &error);
    ASSERT_TRUE(xml) << error.toStdString();
    EXPECT_TRUE(xml->startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_TRUE(xml->contains("<plist version=\"1.0\">"));

    const auto back = PropertyList::fromData(*xml, &error);
    ASSERT_TRUE(back) << error.toStdString();
    const QVariantMap m = back->toMap();
    const QVariantMap reals = m["reals"].toMap();
    EXPECT_EQ(reals["third"].typeId(), QMetaType::Double);
    EXPECT_EQ(bitsOf(reals["third"].toDouble()), bitsOf(double(third)));
    EXPECT_EQ(bitsOf(reals["sum"].toDouble()), bitsOf(0.1 + 0.2));
    EXPECT_EQ(bitsOf(reals["tiny"].toDouble()), bitsOf(5e-324));
    EXPECT_EQ(bitsOf(reals["big"].toDouble()), bitsOf(1.7976931348623157e308));
    EXPECT_EQ(reals["negZero"].toDouble(), 0.0);

    const QVariantList list = m["list"].toList();
    ASSERT_EQ(list.size(), 5);
    EXPECT_EQ(list[0].typeId(), QMetaType::LongLong);
    EXPECT_EQ(list[0].toLongLong(), -3);
    EXPECT_EQ(list[1].toLongLong(), 9007199254740993LL);  // not representable as a double
    EXPECT_EQ(list[2].typeId(), QMetaType::Bool);
    EXPECT_TRUE(list[2].toBool());
    EXPECT_FALSE(list[3].toBool());
    EXPECT_EQ(list[4].toString(), QString());
    EXPECT_EQ(m["text"].toString(), root["text"].toString());
    EXPECT_EQ(m["data"].toByteArray(), bytes);
    EXPECT_EQ(m["date"].toDateTime(), root["date"].toDateTime());
    EXPECT_EQ(m["empty"].typeId(), QMetaType::QVariantList);
    EXPECT_TRUE(m["empty"].toList().isEmpty());
    EXPECT_EQ(m["emptyMap"].typeId(), QMetaType::QVariantMap);
}

TEST(PropertyList, RefusesValuesItCannotStore) {
    QString error;
    EXPECT_FALSE(PropertyList::toXml(QVariantList{1, QPoint(1, 2)}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(PropertyList::toXml(QVariant()));
    EXPECT_FALSE(PropertyList::toXml(QVariant::fromValue(quint64(1) << 63)));
}

TEST(PropertyList, MalformedInputIsRefusedNotCrashedOn) {
    QString error;
    EXPECT_FALSE(PropertyList::fromData(QByteArray(), &error));
    EXPECT_FALSE(PropertyList::fromData("this is not a property list", &error));
    EXPECT_FALSE(PropertyList::fromData("bplist00", &error));
    EXPECT_FALSE(PropertyList::fromData(QByteArray("bplist00") + QByteArray(64, '\xff'), &error));
    EXPECT_FALSE(PropertyList::fromData("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><dict>", &error));

    // Deep nesting: libplist would recurse once per level; a chain this long used to overflow
    // the stack. Moderate nesting still reads.
    EXPECT_FALSE(PropertyList::fromData(nestedBinary(100000), &error));
    EXPECT_FALSE(PropertyList::fromData(nestedBinary(3, /*cycle=*/true), &error));
    EXPECT_FALSE(PropertyList::fromData(nestedXml(100000), &error));
    // Shared references: libplist copies each again, so 60 levels would be 2^60 nodes.
    EXPECT_FALSE(PropertyList::fromData(nestedBinary(60, false, /*twice=*/true), &error));
    EXPECT_TRUE(PropertyList::fromData(nestedBinary(10, false, /*twice=*/true), &error));
    // Too many elements to hold in memory, refused before parsing.
    const QByteArray flat =
        "<plist version=\"1.0\"><array>" + QByteArray("<true/>").repeated(PropertyList::kMaxNodes) + "</array></plist>";
    EXPECT_FALSE(PropertyList::fromData(flat, &error));
    EXPECT_TRUE(error.contains("too many")) << error.toStdString();
    const auto moderateBinary = PropertyList::fromData(nestedBinary(400), &error);
    ASSERT_TRUE(moderateBinary) << error.toStdString();
    EXPECT_EQ(moderateBinary->typeId(), QMetaType::QVariantList);
    EXPECT_TRUE(PropertyList::fromData(nestedXml(400), &error));

    // A NUL inside a dictionary key makes libplist abort the process; XML forbids NUL anyway.
    const QByteArray head("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>");
    EXPECT_FALSE(PropertyList::fromData(head + "a&#0;b</key><true/></dict></plist>", &error));
    EXPECT_FALSE(PropertyList::fromData(head + "a&#x000;b</key><true/></dict></plist>", &error));
    EXPECT_FALSE(PropertyList::fromData(head + QByteArray("a\0b", 3) + "</key><true/></dict></plist>", &error));
    EXPECT_TRUE(PropertyList::fromData(head + "a&#10;b</key><true/></dict></plist>", &error));
    QByteArray nulKey("bplist00");
    nulKey += QByteArray("\xD1\x01\x02", 3);  // object 0 at 8: a dict, key 1, value 2
    nulKey += QByteArray(
        "\x53"
        "a\0b",
        4);                                   // object 1 at 11: the key "a\0b"
    nulKey += QByteArray("\x10\x01", 2);      // object 2 at 15: the integer 1
    nulKey += QByteArray("\x08\x0B\x0F", 3);  // offset table at 17
    nulKey += QByteArray(6, '\0') + QByteArray("\x01\x01", 2) + QByteArray(7, '\0') + '\x03' + QByteArray(8, '\0') +
              QByteArray(7, '\0') + '\x11';
    EXPECT_FALSE(PropertyList::fromData(nulKey, &error));
    QByteArray fineKey = nulKey;
    fineKey[13] = 'x';
    const auto fine = PropertyList::fromData(fineKey, &error);
    ASSERT_TRUE(fine) << error.toStdString();
    EXPECT_EQ(fine->toMap().value("axb").toLongLong(), 1);

    // Every truncation and a spread of corruptions of a valid file, XML and binary.
    QVariantList entries;
    for (int i = 0; i < 4; ++i)
        entries.append(QVariantMap{{"zoom", 1.5 + i}, {"atTime", 0.25 * i}, {"name", QString("e%1").arg(i)}});
    const QByteArray xml = *PropertyList::toXml(entries);
    QByteArray binary = nestedBinary(6);
    quint32 seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const QByteArray& valid : {xml, binary}) {
        for (qsizetype n = 0; n < valid.size(); ++n) (void)PropertyList::fromData(valid.left(n));
        for (int round = 0; round < 2000; ++round) {
            QByteArray bad = valid;
            const int flips = 1 + int(next() % 4);
            for (int f = 0; f < flips; ++f) bad[qsizetype(next() % quint32(bad.size()))] = char(next() & 0xFF);
            (void)PropertyList::fromData(bad);
        }
    }
    for (int round = 0; round < 500; ++round) {
        QByteArray noise(qsizetype(next() % 300), '\0');
        for (auto& c : noise) c = char(next() & 0xFF);
        if (round % 2) noise.prepend("bplist00");
        (void)PropertyList::fromData(noise);
    }
}

TEST(PropertyList, FilesMissingEmptyOrHugeAreRefused) {
    testsupport::TempDir dir;
    QString error;
    EXPECT_FALSE(PropertyList::readFile(q(dir.path() / "missing.plist"), &error));
    EXPECT_FALSE(error.isEmpty());

    // Not regular files: a folder, and a FIFO that would block a reader forever.
    EXPECT_FALSE(PropertyList::readFile(q(dir.path()), &error));
    ASSERT_EQ(mkfifo((dir.path() / "fifo.plist").c_str(), 0600), 0);
    EXPECT_FALSE(PropertyList::readFile(q(dir.path() / "fifo.plist"), &error));

    testsupport::writeFile(dir.path() / "empty.plist", "");
    EXPECT_FALSE(PropertyList::readFile(q(dir.path() / "empty.plist")));

    // A sparse file larger than the limit is refused from its size, without being read.
    const auto huge = dir.path() / "huge.plist";
    testsupport::writeFile(huge, "<?xml");
    ASSERT_EQ(truncate(huge.c_str(), PropertyList::kMaxBytes + 1), 0);
    EXPECT_FALSE(PropertyList::readFile(q(huge), &error));
    EXPECT_TRUE(error.contains("large")) << error.toStdString();
}
